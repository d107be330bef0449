#include "gen_utils/registry.h"

namespace utils {

LSTATUS reg_query_type_and_size(HKEY key, std::wstring_view name, DWORD& type, DWORD& size)
{
    type = REG_NONE;
    size = 0;
    return RegQueryValueExW(key, std::wstring(name).c_str(), nullptr, &type, nullptr, &size);
}

LSTATUS reg_read_value(HKEY key, std::wstring_view name, void* buffer, DWORD length, DWORD expected_type)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (const LSTATUS status = reg_query_type_and_size(key, name, type, size); status != ERROR_SUCCESS) {
        return status;
    }
    if (type != expected_type || size > length) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD read = length;
    const LSTATUS status =
        RegQueryValueExW(key, std::wstring(name).c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &read);
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != expected_type)) {
        return ERROR_INVALID_PARAMETER; // changed between the two queries
    }
    return status;
}

LSTATUS reg_read_string(HKEY key, std::wstring_view name, std::wstring& out)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (const LSTATUS status = reg_query_type_and_size(key, name, type, size); status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_SZ) {
        return ERROR_SUCCESS;
    }
    // An odd byte count still fits: the last character's high byte stays zero.
    std::wstring text((size + 1) / 2, L'\0');
    const LSTATUS status =
        reg_read_value(key, name, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), REG_SZ);
    if (status == ERROR_SUCCESS) {
        out = std::move(text);
    }
    return status;
}

} // namespace utils
