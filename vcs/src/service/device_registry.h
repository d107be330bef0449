#pragma once
// Every camera the service has seen keeps a key under the "devices" key, named
// after its unique key, with its friendly name and its instance CLSID: a GUID
// made once and kept for good, which also names the camera's filter instance.

#include <windows.h>

#include <string>
#include <string_view>

#include "gen_utils/registry.h"

namespace DRM {

// One camera's registry entry as the enumerator keeps it.
struct device_entry {
    std::wstring friendly_name; // the name last registered; empty for an entry loaded from the registry
    GUID instance_clsid{};      // "DevicePropertyInstanceCLSID"
    std::wstring key_name;      // the unique key
    bool removed = true;        // no filter instance registered for it
    GUID filter_clsid{};        // the filter the instance is (or was last) registered for
};

} // namespace DRM

namespace utils {

// RegEnumKeyExW of subkey `index` into `name`. ERROR_NO_MORE_ITEMS (259) ends
// an enumeration; names longer than 259 characters are read with a larger buffer.
LSTATUS reg_enum_subkey(HKEY key, DWORD index, std::wstring& name);

// Writes a REG_SZ value of character count times 2 bytes, without a terminating zero.
LSTATUS reg_write_string(HKEY key, std::wstring_view name, std::wstring_view value);

namespace device_registry {

inline constexpr std::wstring_view friendly_name_value = L"FriendlyName";
inline constexpr std::wstring_view instance_clsid_value = L"DevicePropertyInstanceCLSID";

// Registry form of a GUID: braces, upper-case hexadecimal digits 8-4-4-4-12.
std::wstring guid_text(const GUID& guid);

// Gives the camera a fresh instance CLSID and writes its device key under
// devices_key. Throws std::runtime_error "Failed to create a GUID" or
// "Failed to create device key." (also when a value cannot be written).
DRM::device_entry create_device_key(HKEY devices_key, std::wstring_view unique_key, std::wstring_view friendly_name,
                                    const GUID& filter_clsid);

// Writes "FriendlyName" and "DevicePropertyInstanceCLSID" into a device key.
// False when a write fails.
bool write_device_values(HKEY device_key, std::wstring_view friendly_name, const GUID& instance_clsid);

// The entry of a device key as loaded at start: empty name, marked removed.
// Throws std::runtime_error "Failed to read key." when the instance CLSID is
// missing, of another type, no GUID text or the all-zero GUID.
DRM::device_entry read_instance_clsid(HKEY device_key, std::wstring_view key_name);

} // namespace device_registry
} // namespace utils
