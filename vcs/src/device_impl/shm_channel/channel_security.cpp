#include "device_impl/shm_channel/channel_security.h"

#include <objbase.h>
#include <sddl.h>

#include <system_error>

#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"

namespace win32 {

namespace {

// The user SID of `token` (opened with TOKEN_QUERY); empty when unreadable.
account_sid token_user(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::vector<std::uint8_t> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    return account_sid(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

} // namespace

account_sid::account_sid(PSID sid)
{
    if (sid != nullptr && IsValidSid(sid)) {
        const auto* bytes = static_cast<const std::uint8_t*>(sid);
        bytes_.assign(bytes, bytes + GetLengthSid(sid));
    }
}

std::wstring account_sid::to_string() const
{
    LPWSTR text = nullptr;
    if (empty() || !ConvertSidToStringSidW(get(), &text)) {
        return {};
    }
    std::wstring result(text);
    LocalFree(text);
    return result;
}

account_sid process_user()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    const unique_handle owned(token);
    return token_user(owned.get());
}

account_sid calling_client_user()
{
    if (SUCCEEDED(CoImpersonateClient())) {
        // Nothing but opening the token runs as the client.
        HANDLE token = nullptr;
        const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
        const DWORD error = opened ? ERROR_SUCCESS : GetLastError();
        CoRevertToSelf();
        const unique_handle owned(token);
        account_sid user = opened ? token_user(owned.get()) : account_sid();
        if (!user.empty()) {
            return user;
        }
        log_line(logging::level_error,
                 "[CamTovra] win32::calling_client_user, the client's token could not be read (error {}): the "
                 "channel is granted to the service's own account only.\n",
                 error);
    }
    return process_user();
}

channel_security make_channel_security(const account_sid& client)
{
    // SYSTEM is in the list already when the service runs as it.
    std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
    const std::wstring user = client.to_string();
    if (!user.empty() && user != L"S-1-5-18") {
        sddl += L"(A;;GA;;;" + user + L")";
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Failed to create channel DACL");
    }
    channel_security result;
    result.descriptor = std::shared_ptr<void>(descriptor, [](void* p) { LocalFree(p); });
    result.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    result.attributes.lpSecurityDescriptor = descriptor;
    result.attributes.bInheritHandle = FALSE;
    return result;
}

} // namespace win32
