// The two measurements over the image: mean luminance and the range of curve
// outputs. Both visit one position per 8 x 8 block.

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "device_impl/image/tonemap.h"
#include "device_impl/image/tonemap_curve_detail.h"
#include "device_impl/image/tonemap_formats.h"

namespace cam::tonemap {

namespace detail {

namespace {
using img::fourcc;

constexpr format_info formats[] = {
    {fourcc("Y800"), pixel_layout::byte8, index_cells::value},
    {fourcc("Y16 "), pixel_layout::word16, index_cells::value},
    {fourcc("BA81"), pixel_layout::byte8, index_cells::diagonal},
    {fourcc("RGGB"), pixel_layout::byte8, index_cells::diagonal},
    {fourcc("GRBG"), pixel_layout::byte8, index_cells::below},
    {fourcc("GBRG"), pixel_layout::byte8, index_cells::below},
    {fourcc("BA16"), pixel_layout::word16, index_cells::below},
    {fourcc("GB16"), pixel_layout::word16, index_cells::below},
    {fourcc("BG16"), pixel_layout::word16, index_cells::diagonal},
    {fourcc("RG16"), pixel_layout::word16, index_cells::diagonal},
    {fourcc("Y12P"), pixel_layout::packed12a, index_cells::value},
    {fourcc("GBCP"), pixel_layout::packed12a, index_cells::quad},
    {fourcc("BGCP"), pixel_layout::packed12a, index_cells::quad},
    {fourcc("RGCP"), pixel_layout::packed12a, index_cells::quad},
    {fourcc("GRCP"), pixel_layout::packed12a, index_cells::quad},
    {fourcc("Y1DP"), pixel_layout::packed12b, index_cells::value},
    {fourcc("GBDP"), pixel_layout::packed12b, index_cells::quad},
    {fourcc("BGDP"), pixel_layout::packed12b, index_cells::quad},
    {fourcc("RGDP"), pixel_layout::packed12b, index_cells::quad},
    {fourcc("GRDP"), pixel_layout::packed12b, index_cells::quad},
    {fourcc("Y12p"), pixel_layout::packed12c, index_cells::value},
    {fourcc("GBCp"), pixel_layout::packed12c, index_cells::quad},
    {fourcc("BGCp"), pixel_layout::packed12c, index_cells::quad},
    {fourcc("RGCp"), pixel_layout::packed12c, index_cells::quad},
    {fourcc("GRCp"), pixel_layout::packed12c, index_cells::quad},
    {fourcc("Y10p"), pixel_layout::packed10, index_cells::value},
    {fourcc("GBAp"), pixel_layout::packed10, index_cells::quad},
    {fourcc("BGAp"), pixel_layout::packed10, index_cells::quad},
    {fourcc("RGAp"), pixel_layout::packed10, index_cells::quad},
    {fourcc("GRAp"), pixel_layout::packed10, index_cells::quad},
};
} // namespace

const format_info* find_format(std::uint32_t code) noexcept
{
    for (const auto& f : formats) {
        if (f.fourcc == code) {
            return &f;
        }
    }
    return nullptr;
}

std::int64_t bytes_through_pixel(pixel_layout layout, std::int64_t x) noexcept
{
    switch (layout) {
    case pixel_layout::byte8: return x + 1;
    case pixel_layout::word16: return 2 * x + 2;
    case pixel_layout::packed10: return x / 4 * 5 + x % 4 + 2; // pixel k of a group: bytes k and k + 1
    case pixel_layout::packed12b: return x / 2 * 3 + 3;        // both pixels of a pair use its third byte
    default: return x / 2 * 3 + 2 + x % 2;                       // bytes 0-1 or 1-2 of the pair
    }
}

std::int64_t last_column_read(std::int64_t width, std::int64_t first, std::int64_t reach) noexcept
{
    if (width - 2 <= first) {
        return -1;
    }
    return first + (width - 3 - first) / 8 * 8 + reach;
}

namespace {
// Whole bytes of a line of `width` pixels, as a frame's stride counts them:
// a packed line may end inside its last byte.
std::int64_t whole_line_bytes(pixel_layout layout, std::int64_t width) noexcept
{
    switch (layout) {
    case pixel_layout::byte8: return width;
    case pixel_layout::word16: return 2 * width;
    case pixel_layout::packed10: return width * 10 / 8;
    default: return width * 12 / 8;
    }
}
} // namespace

sample_area readable_area(const img::image_desc& image, pixel_layout layout, std::int64_t last_column) noexcept
{
    sample_area area;
    if (image.data == nullptr || image.width <= 0 || image.height <= 0 || last_column < 0) {
        return area;
    }
    const std::int64_t pitch = std::llabs(image.stride);
    const std::int64_t used = bytes_through_pixel(layout, last_column);
    if (pitch < whole_line_bytes(layout, image.width) || image.buffer_size < used) {
        return area;
    }
    area.data = image.data;
    area.stride = image.stride;
    area.width = image.width;
    area.lines = std::min<std::int64_t>(image.height, 1 + (image.buffer_size - used) / pitch);
    return area;
}

} // namespace detail

namespace {

using namespace detail;

// 1/255, 1/65535, 1/1530 and 1/393210 as the float32 values the results are
// defined with.
const float scale_mono8 = from_bits(0x3B808081);
const float scale_mono16 = from_bits(0x37800080);
const float scale_bayer8 = from_bits(0x3A2B5602);
const float scale_bayer16 = from_bits(0x362AAB56);
const float index_scale_bayer8 = from_bits(0x42AB5557);  // 85.66668: 3 * 255 -> 65535
const float index_scale_bayer16 = from_bits(0x3EAAAAAB); // 0.33333334

constexpr float range_lo_start = 1000000.0f;
constexpr float range_hi_start = -1000000.0f;

float not_a_number() noexcept
{
    return std::numeric_limits<float>::quiet_NaN();
}

template <pixel_layout L>
float mean_of(const sample_area& a, bool bayer) noexcept
{
    std::uint64_t sum = 0;
    std::uint64_t count = 0;
    for (std::int64_t y = 2; y <= a.lines - 2; y += 8) {
        const std::uint8_t* line = a.line(y);
        const std::uint8_t* next = a.line(y + 1);
        for (std::int64_t x = 2; x < a.width - 2; x += 8) {
            if (bayer) {
                sum += pixel<L>(line, x) + 2 * pixel<L>(line, x + 1) + pixel<L>(line, x + 2) + pixel<L>(next, x) +
                       pixel<L>(next, x + 1);
            } else {
                sum += pixel<L>(line, x) + pixel<L>(line, x + 1);
            }
            ++count;
        }
    }
    if (count == 0) {
        return not_a_number();
    }
    constexpr bool byte_scale = L == pixel_layout::byte8;
    if (bayer) {
        return static_cast<float>(sum) * (byte_scale ? scale_bayer8 : scale_bayer16) / static_cast<float>(count);
    }
    return static_cast<float>(sum / 2) * (byte_scale ? scale_mono8 : scale_mono16) / static_cast<float>(count);
}

std::int64_t curve_index(float scaled) noexcept
{
    // Truncation; the operands keep it within 0..65535, the clamp only guards.
    const auto j = static_cast<std::int64_t>(scaled);
    return j < 0 ? 0 : (j > 65535 ? 65535 : j);
}

// Curve entries straight from a table that holds the whole curve.
struct table_lookup {
    const float* entries;
    float operator()(std::int64_t j) const noexcept { return entries[j]; }
};

// Curve entries computed a block of 4 at a time when first read.
struct on_demand_lookup {
    float* entries;
    std::uint32_t* stamp;
    std::uint32_t generation;
    const curve_params* curve;

    float operator()(std::int64_t j) noexcept
    {
        const std::int64_t block = j >> 2;
        if (stamp[block] != generation) {
            fill_curve_block(entries, block, *curve);
            stamp[block] = generation;
        }
        return entries[j];
    }
};

template <pixel_layout L, index_cells C, typename Lookup>
output_range range_of(const sample_area& a, Lookup& curve) noexcept
{
    constexpr bool byte_scale = L == pixel_layout::byte8;
    float lo = range_lo_start;
    float hi = range_hi_start;
    for (std::int64_t y = 0; y <= a.lines - 2; y += 8) {
        const std::uint8_t* line = a.line(y);
        const std::uint8_t* next = a.line(y + 1);
        for (std::int64_t x = 0; x < a.width - 2; x += 8) {
            const std::uint32_t p = pixel<L>(line, x);
            float v = 0.0f;
            std::int64_t j = 0;
            if constexpr (C == index_cells::value) {
                v = static_cast<float>(p) * (byte_scale ? scale_mono8 : scale_mono16);
                j = curve_index(v * 65535.0f);
            } else {
                v = static_cast<float>(p) / (byte_scale ? 255.0f : 65535.0f);
                const std::uint32_t right = pixel<L>(line, x + 1);
                if constexpr (C == index_cells::quad) {
                    const std::uint32_t s = p + right + pixel<L>(next, x) + pixel<L>(next, x + 1);
                    j = curve_index(static_cast<float>(s) * 0.25f);
                } else {
                    const std::uint32_t third = C == index_cells::diagonal ? pixel<L>(next, x + 1) : pixel<L>(next, x);
                    const std::uint32_t s = p + right + third;
                    j = curve_index(static_cast<float>(s) * (byte_scale ? index_scale_bayer8 : index_scale_bayer16));
                }
            }
            const float r = v / (v + curve(j));
            if (r < lo) {
                lo = r;
            }
            if (r > hi) {
                hi = r;
            }
        }
    }
    return {lo, hi};
}

template <pixel_layout L, typename Lookup>
output_range range_by_cells(const sample_area& a, index_cells cells, Lookup& curve) noexcept
{
    switch (cells) {
    case index_cells::value: return range_of<L, index_cells::value>(a, curve);
    case index_cells::diagonal: return range_of<L, index_cells::diagonal>(a, curve);
    case index_cells::below: return range_of<L, index_cells::below>(a, curve);
    default: return range_of<L, index_cells::quad>(a, curve);
    }
}

// The range walk starts at column 0; a Bayer position reads its right
// neighbour too.
sample_area range_area(const img::image_desc& image, const format_info& f) noexcept
{
    const std::int64_t reach = f.cells == index_cells::value ? 0 : 1;
    return readable_area(image, f.layout, last_column_read(image.width, 0, reach));
}

template <typename Lookup>
output_range range_by_format(const img::image_desc& image, Lookup& curve) noexcept
{
    const format_info* f = find_format(image.fourcc);
    if (f == nullptr) {
        return {range_lo_start, range_hi_start};
    }
    const sample_area a = range_area(image, *f);
    switch (f->layout) {
    case pixel_layout::byte8: return range_by_cells<pixel_layout::byte8>(a, f->cells, curve);
    case pixel_layout::word16: return range_by_cells<pixel_layout::word16>(a, f->cells, curve);
    case pixel_layout::packed12a: return range_by_cells<pixel_layout::packed12a>(a, f->cells, curve);
    case pixel_layout::packed12b: return range_by_cells<pixel_layout::packed12b>(a, f->cells, curve);
    case pixel_layout::packed12c: return range_by_cells<pixel_layout::packed12c>(a, f->cells, curve);
    default: return range_by_cells<pixel_layout::packed10>(a, f->cells, curve);
    }
}

} // namespace

bool supports_format(std::uint32_t code) noexcept
{
    return find_format(code) != nullptr;
}

float mean_luminance(const img::image_desc& image) noexcept
{
    const format_info* f = find_format(image.fourcc);
    if (f == nullptr) {
        return -1.0f;
    }
    // The mean's walk starts at column 2 and reads one neighbour to the
    // right, two for Bayer formats.
    const bool bayer = f->cells != index_cells::value;
    const sample_area a = readable_area(image, f->layout, last_column_read(image.width, 2, bayer ? 2 : 1));
    switch (f->layout) {
    case pixel_layout::byte8: return mean_of<pixel_layout::byte8>(a, bayer);
    case pixel_layout::word16: return mean_of<pixel_layout::word16>(a, bayer);
    case pixel_layout::packed12a: return mean_of<pixel_layout::packed12a>(a, bayer);
    case pixel_layout::packed12b: return mean_of<pixel_layout::packed12b>(a, bayer);
    case pixel_layout::packed12c: return mean_of<pixel_layout::packed12c>(a, bayer);
    default: return mean_of<pixel_layout::packed10>(a, bayer);
    }
}

output_range mapped_range(const img::image_desc& image, const img::tonemap_curve_table& table) noexcept
{
    table_lookup lookup{table.entries};
    return range_by_format(image, lookup);
}

namespace detail {

output_range mapped_range_on_demand(const img::image_desc& image, img::tonemapping_auto_state& state,
                                    const curve_params& c) noexcept
{
    on_demand_lookup lookup{state.table.entries, state.blocks.stamp, state.blocks.generation, &c};
    return range_by_format(image, lookup);
}

std::int64_t range_block_bound(const img::image_desc& image) noexcept
{
    const format_info* f = find_format(image.fourcc);
    if (f == nullptr) {
        return 0;
    }
    const sample_area a = range_area(image, *f);
    if (a.lines < 2 || a.width < 3) {
        return 0;
    }
    const std::int64_t samples = ((a.lines - 2) / 8 + 1) * ((a.width - 3) / 8 + 1);
    // 8-bit indices: 256 values of one byte, 766 of a sum of three bytes.
    std::int64_t indices = img::tonemap_curve_size;
    if (f->layout == pixel_layout::byte8) {
        indices = f->cells == index_cells::value ? 256 : 766;
    }
    return std::min(samples, indices);
}

} // namespace detail

} // namespace cam::tonemap
