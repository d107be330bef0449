#include "gen_utils/win32_utils.h"

#include <objbase.h>
#include <sddl.h>

#include <stdexcept>

#include "gen_utils/string_conv.h"

namespace win32 {

void close_handle(HANDLE handle) noexcept
{
    if (handle != nullptr) {
        CloseHandle(handle);
    }
}

world_access_security_attributes make_world_access_security_attributes()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;BA)(A;;GARC;;;S-1-2-0)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
        throw std::runtime_error("Failed to create world-access DACL");
    }
    world_access_security_attributes result;
    result.descriptor = std::shared_ptr<void>(descriptor, [](void* p) { LocalFree(p); });
    result.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    result.attributes.lpSecurityDescriptor = descriptor;
    result.attributes.bInheritHandle = TRUE;
    return result;
}

std::wstring guid_to_wstring(const GUID& guid)
{
    LPOLESTR text = nullptr;
    if (FAILED(StringFromIID(guid, &text)) || text == nullptr) {
        return {};
    }
    std::wstring result(text);
    CoTaskMemFree(text);
    return result;
}

std::string guid_to_string(const GUID& guid)
{
    return utils::to_utf8(guid_to_wstring(guid));
}

std::wstring make_unique_global_name(std::wstring_view prefix)
{
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) {
        guid = GUID{};
    }
    std::wstring name = L"Global\\";
    name.append(prefix);
    name += guid_to_wstring(guid);
    return name;
}

} // namespace win32
