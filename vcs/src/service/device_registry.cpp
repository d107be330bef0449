#include "service/device_registry.h"

#include <objbase.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "gen_utils/win32_utils.h"

namespace utils {

LSTATUS reg_enum_subkey(HKEY key, DWORD index, std::wstring& name)
{
    constexpr DWORD initial_size = 260;
    std::vector<wchar_t> buffer(initial_size, L'\0');
    DWORD length = initial_size - 1;
    LSTATUS status = RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
        // Some registries report the needed length, others leave it as passed:
        // only a reported length beyond the buffer is worth a second try.
        if (length < initial_size - 1) {
            return status;
        }
        buffer.assign(std::max<std::size_t>(length + 1, 32768), L'\0');
        length = static_cast<DWORD>(buffer.size() - 1);
        status = RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    }
    if (status == ERROR_SUCCESS) {
        buffer.back() = L'\0';
        name.assign(buffer.data(), std::min<std::size_t>(length, buffer.size() - 1));
    }
    return status;
}

LSTATUS reg_write_string(HKEY key, std::wstring_view name, std::wstring_view value)
{
    const std::wstring value_name(name);
    return RegSetValueExW(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size() * sizeof(wchar_t)));
}

namespace device_registry {

std::wstring guid_text(const GUID& guid)
{
    return win32::guid_to_wstring(guid);
}

bool write_device_values(HKEY device_key, std::wstring_view friendly_name, const GUID& instance_clsid)
{
    return reg_write_string(device_key, friendly_name_value, friendly_name) == ERROR_SUCCESS &&
           reg_write_string(device_key, instance_clsid_value, guid_text(instance_clsid)) == ERROR_SUCCESS;
}

DRM::device_entry create_device_key(HKEY devices_key, std::wstring_view unique_key, std::wstring_view friendly_name,
                                    const GUID& filter_clsid)
{
    DRM::device_entry entry;
    if (FAILED(CoCreateGuid(&entry.instance_clsid))) {
        throw std::runtime_error("Failed to create a GUID");
    }
    const std::wstring key_name(unique_key);
    HKEY raw = nullptr;
    if (RegCreateKeyExW(devices_key, key_name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("Failed to create device key.");
    }
    const unique_hkey device_key(raw);
    if (!write_device_values(device_key.get(), friendly_name, entry.instance_clsid)) {
        throw std::runtime_error("Failed to create device key.");
    }
    entry.friendly_name = friendly_name;
    entry.key_name = key_name;
    entry.removed = true;
    entry.filter_clsid = filter_clsid;
    return entry;
}

DRM::device_entry read_instance_clsid(HKEY device_key, std::wstring_view key_name)
{
    DWORD type = REG_NONE;
    const std::wstring value_name(instance_clsid_value);
    if (RegQueryValueExW(device_key, value_name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
        type != REG_SZ) {
        throw std::runtime_error("Failed to read key.");
    }
    std::wstring text;
    if (reg_read_string(device_key, instance_clsid_value, text) != ERROR_SUCCESS) {
        throw std::runtime_error("Failed to read key.");
    }
    // A stored terminating zero, or junk behind one, is not part of the text.
    text.resize(std::wstring_view(text.c_str()).size());
    DRM::device_entry entry;
    if (FAILED(IIDFromString(text.c_str(), &entry.instance_clsid)) || entry.instance_clsid == GUID{}) {
        throw std::runtime_error("Failed to read key.");
    }
    entry.key_name = key_name;
    entry.removed = true;
    return entry;
}

} // namespace device_registry
} // namespace utils
