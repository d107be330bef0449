#include "properties/property_store_registry.h"

#include <limits>
#include <string>

namespace utils {

namespace {
// Registry calls want a terminated name.
std::wstring terminated(std::wstring_view name)
{
    return std::wstring(name);
}
} // namespace

property_store_registry::property_store_registry(HKEY parent, std::wstring_view subkey, REGSAM access)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, terminated(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        key_.reset(key);
    }
}

bool property_store_registry::read_int(std::wstring_view name, std::int64_t& value)
{
    if (!key_) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (reg_query_type_and_size(key_.get(), name, type, size) != ERROR_SUCCESS) {
        return false;
    }
    // Only a value of exactly its type's size is a number: a shorter one
    // would leave bytes of the result undefined.
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD dword = 0;
        if (reg_read_value(key_.get(), name, &dword, sizeof(dword), REG_DWORD) != ERROR_SUCCESS) {
            return false;
        }
        value = dword;
        return true;
    }
    if (type == REG_QWORD && size == sizeof(std::uint64_t)) {
        std::uint64_t qword = 0;
        if (reg_read_value(key_.get(), name, &qword, sizeof(qword), REG_QWORD) != ERROR_SUCCESS) {
            return false;
        }
        value = static_cast<std::int64_t>(qword);
        return true;
    }
    return false;
}

bool property_store_registry::read_string(std::wstring_view name, std::wstring& value)
{
    if (!key_) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (reg_query_type_and_size(key_.get(), name, type, size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ) {
        value.clear();
        return true;
    }
    return reg_read_string(key_.get(), name, value) == ERROR_SUCCESS;
}

bool property_store_registry::write_int(std::wstring_view name, std::int64_t value)
{
    if (!key_) {
        return false;
    }
    return RegSetValueExW(key_.get(), terminated(name).c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

bool property_store_registry::write_string(std::wstring_view name, std::wstring_view value)
{
    if (!key_ || value.size() >= std::numeric_limits<DWORD>::max() / sizeof(wchar_t)) {
        return false;
    }
    // Strings are stored without a terminating zero, and readers rely on that.
    // RegSetValueExW adds a terminator itself when the character just past the
    // counted data is a zero, so the data is handed over with a non-zero
    // character behind it.
    std::wstring data(value);
    data.push_back(L'\xFFFF');
    return RegSetValueExW(key_.get(), terminated(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(value.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool property_store_registry::remove(std::wstring_view name)
{
    return key_ && RegDeleteValueW(key_.get(), terminated(name).c_str()) == ERROR_SUCCESS;
}

int property_store_registry::value_kind(std::wstring_view name)
{
    if (!key_) {
        return none;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (reg_query_type_and_size(key_.get(), name, type, size) != ERROR_SUCCESS) {
        return none;
    }
    switch (type) {
    case REG_SZ: return string;
    case REG_DWORD:
    case REG_QWORD: return integer;
    default: return none;
    }
}

} // namespace utils
