#pragma once
// The raw formats the tone mapping reads and how their pixels decode. Every
// sample is brought to a 16-bit scale except the 8-bit formats, which stay
// bytes; packed 12-bit values are shifted left by 4, packed 10-bit by 6.

#include <bit>
#include <cstdint>

#include "device_impl/image/image_format.h"

namespace cam::tonemap::detail {

enum class pixel_layout : std::uint8_t {
    byte8,     // one byte
    word16,    // little-endian u16
    packed12a, // 2 pixels in 3 bytes: p0 = b0 << 4 | b1 & 0x0F, p1 = b2 << 4 | b1 >> 4
    packed12b, // p0 = b0 << 4 | b2 & 0x0F, p1 = b1 << 4 | b2 >> 4
    packed12c, // LSB first: p0 = b0 | (b1 & 0x0F) << 8, p1 = b1 >> 4 | b2 << 4
    packed10,  // 4 pixels in 5 bytes, LSB first
};

// Which neighbours of a Bayer 2 x 2 block give the curve index.
enum class index_cells : std::uint8_t {
    value,    // mono: the sample itself
    diagonal, // p(y,x) + p(y,x+1) + p(y+1,x+1)
    below,    // p(y,x) + p(y,x+1) + p(y+1,x)
    quad,     // all four, for the packed Bayer formats
};

struct format_info {
    std::uint32_t fourcc;
    pixel_layout layout;
    index_cells cells; // `value` for mono formats
};

[[nodiscard]] const format_info* find_format(std::uint32_t fourcc) noexcept;

template <pixel_layout L>
inline std::uint32_t pixel(const std::uint8_t* line, std::int64_t x) noexcept
{
    if constexpr (L == pixel_layout::byte8) {
        return line[x];
    } else if constexpr (L == pixel_layout::word16) {
        return line[2 * x] | std::uint32_t{line[2 * x + 1]} << 8;
    } else if constexpr (L == pixel_layout::packed10) {
        const std::uint8_t* b = line + (x / 4) * 5;
        std::uint32_t p = 0;
        switch (x % 4) {
        case 0: p = b[0] | (b[1] & 0x03u) << 8; break;
        case 1: p = b[1] >> 2 | (b[2] & 0x0Fu) << 6; break;
        case 2: p = b[2] >> 4 | (b[3] & 0x3Fu) << 4; break;
        default: p = b[3] >> 6 | std::uint32_t{b[4]} << 2; break;
        }
        return p << 6;
    } else {
        const std::uint8_t* b = line + (x / 2) * 3;
        const bool odd = (x & 1) != 0;
        std::uint32_t p = 0;
        if constexpr (L == pixel_layout::packed12a) {
            p = odd ? (std::uint32_t{b[2]} << 4 | b[1] >> 4) : (std::uint32_t{b[0]} << 4 | (b[1] & 0x0Fu));
        } else if constexpr (L == pixel_layout::packed12b) {
            p = odd ? (std::uint32_t{b[1]} << 4 | b[2] >> 4) : (std::uint32_t{b[0]} << 4 | (b[2] & 0x0Fu));
        } else {
            p = odd ? (b[1] >> 4 | std::uint32_t{b[2]} << 4) : (b[0] | (b[1] & 0x0Fu) << 8);
        }
        return p << 4;
    }
}

// Bytes from the start of a line through the last byte that pixel x is read
// from (x >= 0). A packed line may end inside a byte or a pixel group.
[[nodiscard]] std::int64_t bytes_through_pixel(pixel_layout layout, std::int64_t x) noexcept;

// The highest column that a walk over columns first, first + 8, ... below
// width - 2 reads when each position reads `reach` columns to its right; -1
// when the walk has no position.
[[nodiscard]] std::int64_t last_column_read(std::int64_t width, std::int64_t first, std::int64_t reach) noexcept;

// The part of an image that a walk reading columns 0..last_column of its
// lines can read safely: a stride that covers a line's whole bytes, and the
// lines whose bytes through last_column lie within `buffer_size`. `lines` is
// 0 when nothing can be read.
struct sample_area {
    const std::uint8_t* data = nullptr;
    std::int64_t stride = 0;
    std::int64_t width = 0;
    std::int64_t lines = 0;

    [[nodiscard]] const std::uint8_t* line(std::int64_t y) const noexcept { return data + y * stride; }
};

[[nodiscard]] sample_area readable_area(const img::image_desc& image, pixel_layout layout,
                                       std::int64_t last_column) noexcept;

inline constexpr float from_bits(std::uint32_t bits) noexcept
{
    return std::bit_cast<float>(bits);
}

} // namespace cam::tonemap::detail
