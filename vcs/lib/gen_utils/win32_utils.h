#pragma once
// Handles, security attributes for named objects that clients open, GUID text
// and unique global object names.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace win32 {

// CloseHandle when the handle is not NULL.
void close_handle(HANDLE handle) noexcept;

struct handle_closer {
    void operator()(HANDLE handle) const noexcept { close_handle(handle); }
};
// Owns a kernel handle whose "no handle" value is NULL.
using unique_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, handle_closer>;

// SECURITY_ATTRIBUTES together with a shared owner of its security descriptor:
// the descriptor lives as long as any copy of this record.
struct world_access_security_attributes {
    SECURITY_ATTRIBUTES attributes{};
    std::shared_ptr<void> descriptor;

    SECURITY_ATTRIBUTES* get() noexcept { return &attributes; }
};

// Generic-all for the built-in Administrators, generic-all and read-control for
// the local logon SID, inheritable. Throws std::runtime_error
// "Failed to create world-access DACL" when the descriptor cannot be made.
world_access_security_attributes make_world_access_security_attributes();

// Registry form with braces and upper-case hex ("{8C59D083-B06B-...}"), UTF-8;
// empty when the text cannot be made.
std::string guid_to_string(const GUID& guid);
std::wstring guid_to_wstring(const GUID& guid);

// "Global\" + prefix + the registry form of a fresh GUID (the all-zero GUID
// when none can be made; nothing appended when no text can be made).
std::wstring make_unique_global_name(std::wstring_view prefix);

} // namespace win32
