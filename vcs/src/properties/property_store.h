#pragma once
// Typed values addressed by name: what property handlers persist and the
// service's per-device settings. Names are UTF-16; an empty name addresses the
// store's default value. No operation throws: failure is false (or kind 0).

#include <cstdint>
#include <string>
#include <string_view>

namespace utils {

class property_store_itf {
public:
    enum kind : int { none = 0, string = 1, integer = 2 };

    virtual bool read_int(std::wstring_view name, std::int64_t& value) = 0;
    virtual bool read_string(std::wstring_view name, std::wstring& value) = 0;
    virtual bool write_int(std::wstring_view name, std::int64_t value) = 0;
    virtual bool write_string(std::wstring_view name, std::wstring_view value) = 0;
    virtual bool remove(std::wstring_view name) = 0;
    // 1 for a string, 2 for an integer, 0 when absent or of another type.
    virtual int value_kind(std::wstring_view name) = 0;

    virtual ~property_store_itf() = default;
};

} // namespace utils

// Reads an integer setting and keeps its low 32 bits in `out`; false (and
// `out` unchanged) when the store has no such integer.
inline bool call_string_callable(utils::property_store_itf& store, std::wstring_view name, std::uint32_t& out)
{
    std::int64_t value = 0;
    if (!store.read_int(name, value)) {
        return false;
    }
    out = static_cast<std::uint32_t>(value);
    return true;
}
