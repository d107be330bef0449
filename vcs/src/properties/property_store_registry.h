#pragma once
#include <windows.h>

#include "gen_utils/registry.h"
#include "properties/property_store.h"

namespace utils {

// A property store kept in one registry key. Integers are written as REG_QWORD
// and read from REG_DWORD or REG_QWORD; strings are REG_SZ written without a
// terminating zero.
class property_store_registry final : public property_store_itf {
public:
    // Creates or opens parent\subkey with `access`. When that fails the store
    // holds no key and every operation fails.
    property_store_registry(HKEY parent, std::wstring_view subkey, REGSAM access);

    bool read_int(std::wstring_view name, std::int64_t& value) override;
    bool read_string(std::wstring_view name, std::wstring& value) override;
    bool write_int(std::wstring_view name, std::int64_t value) override;
    bool write_string(std::wstring_view name, std::wstring_view value) override;
    bool remove(std::wstring_view name) override;
    int value_kind(std::wstring_view name) override;

    [[nodiscard]] bool is_open() const noexcept { return key_ != nullptr; }

private:
    unique_hkey key_;
};

} // namespace utils
