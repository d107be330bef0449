#include "service/session_proxy_start.h"

#include <wtsapi32.h>

#include <vector>

#include "gen_utils/log.h"
#include "gen_utils/process_launch.h"
#include "service/list_changed_notifier.h"
#include "service/session_mailslot.h"

namespace service {

namespace {
// Log lines carry paths in the narrow file-system code page.
std::string to_file_system_text(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr, nullptr);
    return out;
}

win32::unique_handle primary_token_of(const win32::unique_handle& user_token)
{
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(user_token.get(), 0, nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
        return nullptr;
    }
    return win32::unique_handle(primary);
}
} // namespace

session_launcher system_session_launcher()
{
    session_launcher launcher;
    launcher.query_user_token = [](DWORD session_id) {
        HANDLE token = nullptr;
        if (!WTSQueryUserToken(session_id, &token)) {
            return win32::unique_handle();
        }
        return win32::unique_handle(token);
    };
    launcher.launch = [](HANDLE primary_token, const std::wstring& application) {
        return win32::unique_handle(utils::launch_process_in_session(primary_token, application, {}, {}));
    };
    return launcher;
}

std::wstring session_proxy_path()
{
    std::vector<wchar_t> buffer(32767, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    const std::size_t separator = path.find_last_of(L"\\/");
    path.erase(separator == std::wstring::npos ? 0 : separator + 1);
    return path.append(session_proxy_file_name);
}

bool start_session_proxy(DWORD session_id, const std::wstring& application, const session_launcher& launcher)
{
    win32::unique_handle primary;
    if (win32::unique_handle user_token = launcher.query_user_token(session_id)) {
        primary = primary_token_of(user_token);
    }
    if (!primary) {
        log_line(logging::level_error,
                 "[CamTovra] service::start_session_proxy, no user token for session={} (error {}): the session "
                 "proxy is not started.\n",
                 session_id, GetLastError());
        return false;
    }
    const win32::unique_handle process = launcher.launch(primary.get(), application);
    log_line(logging::level_trace, "[CamTovra] Created session proxy @{} in session={}. Success={}\n",
             to_file_system_text(application), session_id, process != nullptr);
    return process != nullptr;
}

bool start_session_proxy(DWORD session_id)
{
    return start_session_proxy(session_id, session_proxy_path(), system_session_launcher());
}

on_session_active::on_session_active(list_changed_notifier& notifier, DWORD own_session_id, proxy_starter start_proxy)
    : notifier_(&notifier), own_session_id_(own_session_id), start_proxy_(std::move(start_proxy))
{
}

void on_session_active::operator()(DWORD session_id, bool active) const
{
    if (!active || session_id == own_session_id_) {
        return;
    }
    const std::wstring name =
        DShowDeviceService::to_wide(DShowDeviceService::session_mailslot_name(static_cast<std::int32_t>(session_id)));
    if (FAILED(notifier_->open_mailslot(name))) {
        start_proxy_(session_id);
    }
}

} // namespace service
