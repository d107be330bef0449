#include "device_impl/image/text_overlay.h"

#include <algorithm>
#include <cstdlib>

namespace cam::overlay {

namespace {

using img::fourcc;

// Writes pixel `index` of one line in the foreground (text) or background
// colour. `pixels_in` says how many whole pixels `bytes` of a line hold.
struct pixel_writer {
    void (*write)(std::uint8_t* line, std::int64_t index, bool foreground) noexcept;
    std::int64_t (*pixels_in)(std::int64_t bytes) noexcept;
};

void put_le16(std::uint8_t* at, std::uint16_t value) noexcept
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::uint8_t gray_bg = 255;
constexpr std::uint8_t gray_fg = 29;
constexpr std::uint16_t gray16_bg = 0xFF00;
constexpr std::uint16_t gray16_fg = 0x1D00;

struct yuv {
    std::uint8_t y, u, v;
};
constexpr yuv yuv_bg{235, 128, 128};
constexpr yuv yuv_fg{81, 90, 240};

void write_bgra32(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    std::uint8_t* p = line + 4 * i;
    p[0] = fg ? 0x00 : 0xFF;
    p[1] = fg ? 0x00 : 0xFF;
    p[2] = 0xFF;
    p[3] = 0xFF;
}

void write_bgr24(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    std::uint8_t* p = line + 3 * i;
    p[0] = fg ? 0x00 : 0xFF;
    p[1] = fg ? 0x00 : 0xFF;
    p[2] = 0xFF;
}

void write_bgra64(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    std::uint8_t* p = line + 8 * i;
    put_le16(p + 0, fg ? 0x0000 : 0xFF00);
    put_le16(p + 2, fg ? 0x0000 : 0xFF00);
    put_le16(p + 4, 0xFF00);
    put_le16(p + 6, 0xFFFF);
}

void write_gray8(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    line[i] = fg ? gray_fg : gray_bg;
}

void write_gray16(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    put_le16(line + 2 * i, fg ? gray16_fg : gray16_bg);
}

// Packed YUV: a pixel sets its own Y and the chroma of its whole group.
void write_yuy2(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    const yuv c = fg ? yuv_fg : yuv_bg;
    std::uint8_t* group = line + (i / 2) * 4;
    group[(i & 1) != 0 ? 2 : 0] = c.y;
    group[1] = c.u;
    group[3] = c.v;
}

void write_uyvy(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    const yuv c = fg ? yuv_fg : yuv_bg;
    std::uint8_t* group = line + (i / 2) * 4;
    group[(i & 1) != 0 ? 3 : 1] = c.y;
    group[0] = c.u;
    group[2] = c.v;
}

void write_y411(std::uint8_t* line, std::int64_t i, bool fg) noexcept
{
    static constexpr int y_offset[4] = {1, 2, 4, 5};
    const yuv c = fg ? yuv_fg : yuv_bg;
    std::uint8_t* group = line + (i / 4) * 6;
    group[y_offset[i % 4]] = c.y;
    group[0] = c.u;
    group[3] = c.v;
}

std::int64_t pixels_of_4(std::int64_t bytes) noexcept { return bytes / 4; }
std::int64_t pixels_of_3(std::int64_t bytes) noexcept { return bytes / 3; }
std::int64_t pixels_of_8(std::int64_t bytes) noexcept { return bytes / 8; }
std::int64_t pixels_of_1(std::int64_t bytes) noexcept { return bytes; }
std::int64_t pixels_of_2(std::int64_t bytes) noexcept { return bytes / 2; }
// Only pixels whose whole group lies in the line are written.
std::int64_t pixels_of_yuv422(std::int64_t bytes) noexcept { return bytes / 4 * 2; }
std::int64_t pixels_of_yuv411(std::int64_t bytes) noexcept { return bytes / 6 * 4; }

constexpr pixel_writer bgra32{write_bgra32, pixels_of_4};
constexpr pixel_writer bgr24{write_bgr24, pixels_of_3};
constexpr pixel_writer bgra64{write_bgra64, pixels_of_8};
constexpr pixel_writer gray8{write_gray8, pixels_of_1};
constexpr pixel_writer gray16{write_gray16, pixels_of_2};
constexpr pixel_writer yuy2{write_yuy2, pixels_of_yuv422};
constexpr pixel_writer uyvy{write_uyvy, pixels_of_yuv422};
constexpr pixel_writer y411{write_y411, pixels_of_yuv411};

struct format_entry {
    std::uint32_t fourcc;
    const pixel_writer* writer;
    bool bottom_up; // RGB buffers are shown bottom-up
};

// Planar formats draw into their first (luma) plane, which starts at `data`
// with the view's own width, height and stride.
constexpr format_entry formats[] = {
    {fourcc("RGB4"), &bgra32, true},  {fourcc("RGB3"), &bgr24, true},   {fourcc("RGB6"), &bgra64, true},
    {fourcc("Y800"), &gray8, false},  {fourcc("BA81"), &gray8, false},  {fourcc("RGGB"), &gray8, false},
    {fourcc("GRBG"), &gray8, false},  {fourcc("GBRG"), &gray8, false},  {fourcc("I420"), &gray8, false},
    {fourcc("YV16"), &gray8, false},  {fourcc("YU8p"), &gray8, false},  {fourcc("Y16 "), &gray16, false},
    {fourcc("BA16"), &gray16, false}, {fourcc("GB16"), &gray16, false}, {fourcc("BG16"), &gray16, false},
    {fourcc("RG16"), &gray16, false}, {fourcc("YUGp"), &gray16, false}, {fourcc("YUY2"), &yuy2, false},
    {fourcc("UYVY"), &uyvy, false},   {fourcc("Y411"), &y411, false},   {fourcc("IYU1"), &y411, false},
};

const format_entry* find_format(std::uint32_t code) noexcept
{
    for (const auto& entry : formats) {
        if (entry.fourcc == code) {
            return &entry;
        }
    }
    return nullptr;
}

// Every visible cell is at least 9 pixels wide and an image is narrower than
// 2^31 pixels, so characters past this many are never seen and never change
// where a centred box lands; the cap keeps the box width within 64 bits.
constexpr std::int64_t max_counted_chars = std::int64_t{1} << 28;

} // namespace

void draw_text(const img::image_desc& image, position at, std::int32_t scale, const char* text,
               std::size_t length) noexcept
{
    if (length == 0 || text == nullptr || scale < 1 || image.data == nullptr || image.width <= 0 ||
        image.height <= 0) {
        return;
    }
    const format_entry* format = find_format(image.fourcc);
    if (format == nullptr) {
        return;
    }

    std::uint8_t* data = image.data;
    std::int64_t stride = image.stride;
    if (format->bottom_up) {
        data += stride * (image.height - 1);
        stride = -stride;
    }

    const std::int64_t width = image.width;
    const std::int64_t height = image.height;
    const std::int64_t glyph_size = 8 * std::int64_t{scale};
    const std::int64_t cell = glyph_size + 1;
    const auto chars = static_cast<std::int64_t>(std::min(length, static_cast<std::size_t>(max_counted_chars)));
    const std::int64_t box_w = cell * chars + 1;
    const std::int64_t box_h = glyph_size + 2;

    std::int64_t x0 = at.x;
    std::int64_t y0 = at.y;
    if (at.x == -1) {
        x0 = box_w < width ? width / 2 - box_w / 2 : 0;
    }
    if (at.y == -1) {
        y0 = box_h < height ? height / 2 - box_h / 2 : 0;
    }
    if (width - x0 <= 0 || height - y0 <= 0) {
        return;
    }

    const std::int64_t line_pixels = std::min(width, format->writer->pixels_in(std::llabs(stride)));
    const std::int64_t x_begin = std::max<std::int64_t>(x0, 0);
    const std::int64_t x_end = std::min(x0 + box_w, line_pixels);
    const std::int64_t y_begin = std::max<std::int64_t>(y0, 0);
    const std::int64_t y_end = std::min(y0 + box_h, height);
    const auto write = format->writer->write;

    for (std::int64_t y = y_begin; y < y_end; ++y) {
        std::uint8_t* line = data + y * stride;
        const std::int64_t row = y - y0;
        if (row == 0 || row == box_h - 1) {
            for (std::int64_t x = x_begin; x < x_end; ++x) {
                write(line, x, false);
            }
            continue;
        }
        const std::int64_t glyph_row = (row - 1) / scale;
        std::int64_t x = x_begin;
        if (x < x_end && x == x0) {
            write(line, x++, false); // left margin
        }
        if (x >= x_end) {
            continue;
        }
        // Where x falls in the text: character, glyph bit (8 = the gap), and
        // the repetition of that bit.
        const std::int64_t offset = x - x0 - 1;
        std::int64_t ch = offset / cell;
        const std::int64_t in_cell = offset % cell;
        std::int64_t bit = in_cell / scale;
        std::int64_t rep = in_cell % scale;
        std::uint8_t bits = font_8x8[static_cast<unsigned char>(text[ch])][glyph_row];
        for (; x < x_end; ++x) {
            if (bit == 8) {
                write(line, x, false);
                if (++ch >= chars) {
                    break;
                }
                bits = font_8x8[static_cast<unsigned char>(text[ch])][glyph_row];
                bit = 0;
                rep = 0;
                continue;
            }
            write(line, x, (bits & (0x80u >> bit)) != 0);
            if (++rep == scale) {
                rep = 0;
                ++bit;
            }
        }
    }
}

} // namespace cam::overlay
