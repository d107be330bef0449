#pragma once
// A GUID as 16 plain bytes in the layout of the Windows GUID record, and the
// braced text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" that GenICam
// descriptions carry in their VCD extension entries.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

struct vcd_guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    bool is_null() const noexcept { return *this == vcd_guid{}; }
    friend bool operator==(const vcd_guid&, const vcd_guid&) = default;
};

// Accepts only the braced form, hex digits of either case, nothing around it.
std::optional<vcd_guid> parse_braced_guid(std::string_view text) noexcept;

// The null GUID for a missing, malformed or null text: a VCD entry that names
// no GUID.
inline vcd_guid guid_or_null(std::string_view text) noexcept
{
    return parse_braced_guid(text).value_or(vcd_guid{});
}
