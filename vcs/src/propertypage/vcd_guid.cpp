#include "propertypage/vcd_guid.h"

namespace {

int hex_digit(char c) noexcept
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// `digits` hex digits of `text` from `at`; false on any other character.
bool read_hex(std::string_view text, std::size_t at, std::size_t digits, std::uint64_t& out) noexcept
{
    out = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int d = hex_digit(text[at + i]);
        if (d < 0) {
            return false;
        }
        out = (out << 4) | static_cast<std::uint64_t>(d);
    }
    return true;
}

} // namespace

std::optional<vcd_guid> parse_braced_guid(std::string_view text) noexcept
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    constexpr std::size_t length = 38;
    if (text.size() != length || text.front() != '{' || text.back() != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    vcd_guid guid;
    std::uint64_t part = 0;
    if (!read_hex(text, 1, 8, part)) {
        return std::nullopt;
    }
    guid.data1 = static_cast<std::uint32_t>(part);
    if (!read_hex(text, 10, 4, part)) {
        return std::nullopt;
    }
    guid.data2 = static_cast<std::uint16_t>(part);
    if (!read_hex(text, 15, 4, part)) {
        return std::nullopt;
    }
    guid.data3 = static_cast<std::uint16_t>(part);
    // Data4: two bytes before the last dash, six after it.
    constexpr std::size_t byte_at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!read_hex(text, byte_at[i], 2, part)) {
            return std::nullopt;
        }
        guid.data4[i] = static_cast<std::uint8_t>(part);
    }
    return guid;
}
