#include "device_impl/image/text_overlay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using cam::overlay::draw_text;
using cam::overlay::position;
using img::fourcc;

enum class cell { untouched, background, foreground };

// What a pixel of the image should become, straight from the box geometry:
// margin column and lines, 8 * scale glyph pixels and a one-pixel gap per
// character.
cell expected_cell(std::int64_t px, std::int64_t py, std::int64_t x0, std::int64_t y0, int scale,
                   const std::string& text)
{
    const std::int64_t cell_w = 8 * scale + 1;
    const std::int64_t box_w = cell_w * static_cast<std::int64_t>(text.size()) + 1;
    const std::int64_t box_h = 8 * scale + 2;
    const std::int64_t col = px - x0;
    const std::int64_t row = py - y0;
    if (col < 0 || row < 0 || col >= box_w || row >= box_h) {
        return cell::untouched;
    }
    if (col == 0 || row == 0 || row == box_h - 1) {
        return cell::background;
    }
    const std::int64_t ch = (col - 1) / cell_w;
    const std::int64_t in_cell = (col - 1) % cell_w;
    if (in_cell == 8 * scale) {
        return cell::background;
    }
    const std::uint8_t glyph_row =
        cam::overlay::font_8x8[static_cast<unsigned char>(text[static_cast<std::size_t>(ch)])][(row - 1) / scale];
    return (glyph_row & (0x80 >> (in_cell / scale))) != 0 ? cell::foreground : cell::background;
}

// A one-byte-per-pixel image with a guard band after the last line.
struct gray_image {
    static constexpr std::uint8_t fill = 0x55;
    int width, height, stride;
    std::vector<std::uint8_t> bytes;

    gray_image(std::uint32_t code, int w, int h, int pad = 0)
        : width(w), height(h), stride(w + pad), bytes(static_cast<std::size_t>((w + pad) * h), fill)
    {
        desc = img::image_desc_make(bytes.data(), code, w, h, stride, static_cast<std::uint32_t>(bytes.size()));
    }
    img::image_desc desc;

    std::uint8_t at(int x, int y) const { return bytes[static_cast<std::size_t>(y * stride + x)]; }

    // Compares every pixel with the geometry; returns the number of mismatches.
    int mismatches(std::int64_t x0, std::int64_t y0, int scale, const std::string& text) const
    {
        int bad = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const cell c = expected_cell(x, y, x0, y0, scale, text);
                const std::uint8_t want = c == cell::untouched ? fill : (c == cell::background ? 255 : 29);
                if (at(x, y) != want) {
                    if (++bad <= 5) {
                        ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << int(at(x, y)) << ", want "
                                      << int(want);
                    }
                }
            }
        }
        return bad;
    }
};

TEST(text_overlay, two_characters_at_scale_one_fill_a_19_by_10_box)
{
    gray_image img(fourcc("Y800"), 640, 480);
    draw_text(img.desc, {10, 10}, 1, "AB", 2);

    // Margins and gaps are background, the box ends at x 28 and y 19.
    for (int x = 10; x <= 28; ++x) {
        EXPECT_EQ(img.at(x, 10), 255) << x;
        EXPECT_EQ(img.at(x, 19), 255) << x;
    }
    for (int y = 10; y <= 19; ++y) {
        EXPECT_EQ(img.at(10, y), 255) << y;
        EXPECT_EQ(img.at(19, y), 255) << y; // gap after A
        EXPECT_EQ(img.at(28, y), 255) << y; // gap after B
        EXPECT_EQ(img.at(29, y), gray_image::fill) << y;
        EXPECT_EQ(img.at(9, y), gray_image::fill) << y;
    }
    for (int x = 9; x <= 29; ++x) {
        EXPECT_EQ(img.at(x, 9), gray_image::fill);
        EXPECT_EQ(img.at(x, 20), gray_image::fill);
    }
    // Top glyph rows of this font: A = 0x38 (..###...), B = 0xFC (######..).
    const std::uint8_t row_a[8] = {255, 255, 29, 29, 29, 255, 255, 255};
    const std::uint8_t row_b[8] = {29, 29, 29, 29, 29, 29, 255, 255};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(img.at(11 + i, 11), row_a[i]) << i;
        EXPECT_EQ(img.at(20 + i, 11), row_b[i]) << i;
    }
    EXPECT_EQ(img.mismatches(10, 10, 1, "AB"), 0);
}

TEST(text_overlay, scaled_text_is_centred_with_truncating_division)
{
    gray_image img(fourcc("Y800"), 101, 51);
    draw_text(img.desc, {-1, -1}, 3, "Hi!", 3);
    // W = 25 * 3 + 1 = 76, H = 26: x = 50 - 38 = 12, y = 25 - 13 = 12.
    EXPECT_EQ(img.at(12, 12), 255);
    EXPECT_EQ(img.at(11, 12), gray_image::fill);
    EXPECT_EQ(img.at(87, 37), 255);
    EXPECT_EQ(img.at(88, 37), gray_image::fill);
    EXPECT_EQ(img.mismatches(12, 12, 3, "Hi!"), 0);
}

TEST(text_overlay, text_wider_than_the_image_starts_at_zero_and_is_clipped)
{
    gray_image img(fourcc("Y800"), 40, 20, 3);
    const std::string text = "wider than forty pixels";
    draw_text(img.desc, {-1, 2}, 1, text.data(), text.size());
    EXPECT_EQ(img.mismatches(0, 2, 1, text), 0);
    for (int y = 0; y < img.height; ++y) {
        for (int x = img.width; x < img.stride; ++x) {
            EXPECT_EQ(img.bytes[static_cast<std::size_t>(y * img.stride + x)], gray_image::fill) << "padding";
        }
    }
}

TEST(text_overlay, box_at_the_last_line_draws_only_its_top_margin)
{
    gray_image img(fourcc("BA81"), 64, 32);
    draw_text(img.desc, {4, 31}, 1, "X", 1);
    for (int x = 0; x < 64; ++x) {
        EXPECT_EQ(img.at(x, 31), (x >= 4 && x <= 13) ? 255 : gray_image::fill) << x;
    }
    EXPECT_EQ(img.mismatches(4, 31, 1, "X"), 0);
}

TEST(text_overlay, negative_positions_clip_at_the_left_and_top_edges)
{
    for (const position at : {position{-5, -3}, position{-2, 4}, position{7, -9}, position{-40, -40}}) {
        gray_image img(fourcc("Y800"), 24, 12);
        draw_text(img.desc, at, 2, "Ok", 2);
        EXPECT_EQ(img.mismatches(at.x, at.y, 2, "Ok"), 0) << at.x << "," << at.y;
    }
}

TEST(text_overlay, box_larger_than_a_tiny_image_stays_inside_it)
{
    gray_image img(fourcc("GRBG"), 5, 3);
    draw_text(img.desc, {-1, -1}, 4, "ABC", 3);
    EXPECT_EQ(img.mismatches(0, 0, 4, "ABC"), 0);
}

TEST(text_overlay, huge_scale_and_length_do_not_overflow_the_box)
{
    gray_image img(fourcc("Y800"), 64, 16);
    std::string text(100000, '#');
    draw_text(img.desc, {-1, -1}, 0x7FFFFFFF, text.data(), text.size());
    // Centring falls back to 0 and glyph pixel (0, 0) of '#' covers everything below the margins.
    EXPECT_EQ(img.at(0, 0), 255);
    EXPECT_EQ(img.at(63, 0), 255);
    EXPECT_EQ(img.at(0, 5), 255);
    const bool first_bit = (cam::overlay::font_8x8[static_cast<unsigned char>('#')][0] & 0x80) != 0;
    EXPECT_EQ(img.at(1, 1), first_bit ? 29 : 255);
    EXPECT_EQ(img.at(63, 15), first_bit ? 29 : 255);

    gray_image other(fourcc("Y800"), 64, 16);
    draw_text(other.desc, {3, 2}, 1 << 28, text.data(), static_cast<std::size_t>(1) << 40);
    EXPECT_EQ(other.at(3, 2), 255);
    EXPECT_EQ(other.at(2, 2), gray_image::fill);
}

TEST(text_overlay, nothing_is_drawn_for_empty_text_unknown_formats_or_outside_positions)
{
    const struct {
        std::uint32_t code;
        position at;
        int scale;
        std::size_t length;
    } cases[] = {
        {fourcc("Y800"), {1, 1}, 1, 0},          {fourcc("RGB5"), {1, 1}, 1, 2},
        {fourcc("NV12"), {1, 1}, 1, 2},          {fourcc("Y800"), {32, 1}, 1, 2}, // width - x = 0
        {fourcc("Y800"), {1, 16}, 1, 2},         {fourcc("Y800"), {1, 1}, 0, 2},
        {fourcc("Y800"), {1, 1}, -3, 2},         {fourcc("Y800"), {-100, 1}, 1, 2},
    };
    for (const auto& c : cases) {
        gray_image img(c.code, 32, 16);
        draw_text(img.desc, c.at, c.scale, "AB", c.length);
        EXPECT_EQ(img.mismatches(0, 1000, 1, "AB"), 0) << img::fourcc_name(c.code) << " " << c.at.x;
    }
}

TEST(text_overlay, code_c4_draws_the_horizontal_bar_glyph)
{
    gray_image img(fourcc("Y800"), 16, 12);
    const char bar[] = {static_cast<char>(0xC4)};
    draw_text(img.desc, {0, 0}, 1, bar, 1);
    for (int y = 1; y <= 8; ++y) {
        for (int x = 1; x <= 8; ++x) {
            EXPECT_EQ(img.at(x, y), y == 5 ? 29 : 255) << x << "," << y; // glyph row 4 is solid
        }
    }
}

// Multi-byte formats: the first pixel of the box is background, the pixel of
// glyph bit 2 in row 0 of 'A' (0x38) is foreground.
TEST(text_overlay, rgb32_is_drawn_bottom_up_in_blue_green_red_alpha)
{
    const int w = 20, h = 12;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * 4 * h), 0x11);
    const auto desc = img::image_desc_make(bytes.data(), fourcc("RGB4"), w, h, w * 4, 0);
    draw_text(desc, {1, 0}, 1, "A", 1);
    auto px = [&](int x, int buffer_line) { return &bytes[static_cast<std::size_t>(buffer_line * w * 4 + x * 4)]; };
    // Box line 0 is buffer line h - 1.
    EXPECT_EQ(std::memcmp(px(1, h - 1), "\xFF\xFF\xFF\xFF", 4), 0);
    EXPECT_EQ(std::memcmp(px(0, h - 1), "\x11\x11\x11\x11", 4), 0);
    EXPECT_EQ(std::memcmp(px(4, h - 2), "\x00\x00\xFF\xFF", 4), 0);
    EXPECT_EQ(std::memcmp(px(3, h - 2), "\xFF\xFF\xFF\xFF", 4), 0);
    EXPECT_EQ(std::memcmp(px(1, 0), "\x11\x11\x11\x11", 4), 0) << "the buffer's first line is the image's last";
}

TEST(text_overlay, rgb24_and_rgb64_use_their_own_pixel_layout)
{
    {
        const int w = 16, h = 12;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * 3 * h), 0x11);
        draw_text(img::image_desc_make(bytes.data(), fourcc("RGB3"), w, h, w * 3, 0), {0, 0}, 1, "A", 1);
        auto px = [&](int x, int line) { return &bytes[static_cast<std::size_t>(line * w * 3 + x * 3)]; };
        EXPECT_EQ(std::memcmp(px(0, h - 1), "\xFF\xFF\xFF", 3), 0);
        EXPECT_EQ(std::memcmp(px(3, h - 2), "\x00\x00\xFF", 3), 0);
        EXPECT_EQ(std::memcmp(px(10, h - 2), "\x11\x11\x11", 3), 0);
    }
    {
        const int w = 16, h = 12;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * 8 * h), 0x11);
        draw_text(img::image_desc_make(bytes.data(), fourcc("RGB6"), w, h, w * 8, 0), {0, 0}, 1, "A", 1);
        auto px = [&](int x, int line) { return &bytes[static_cast<std::size_t>(line * w * 8 + x * 8)]; };
        EXPECT_EQ(std::memcmp(px(0, h - 1), "\x00\xFF\x00\xFF\x00\xFF\xFF\xFF", 8), 0);
        EXPECT_EQ(std::memcmp(px(3, h - 2), "\x00\x00\x00\x00\x00\xFF\xFF\xFF", 8), 0);
    }
}

TEST(text_overlay, sixteen_bit_formats_write_little_endian_words)
{
    for (const char* name : {"Y16 ", "BA16", "GB16", "BG16", "RG16", "YUGp"}) {
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code |= static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
        }
        const int w = 16, h = 12;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * 2 * h), 0x11);
        draw_text(img::image_desc_make(bytes.data(), code, w, h, w * 2, 0), {0, 0}, 1, "A", 1);
        EXPECT_EQ(bytes[0], 0x00) << name;
        EXPECT_EQ(bytes[1], 0xFF) << name;
        const std::size_t fg = static_cast<std::size_t>(w * 2 + 3 * 2); // line 1, pixel 3
        EXPECT_EQ(bytes[fg], 0x00) << name;
        EXPECT_EQ(bytes[fg + 1], 0x1D) << name;
        EXPECT_EQ(bytes[fg + 2], 0x00) << name;
        EXPECT_EQ(bytes[fg + 3], 0x1D) << name;
        EXPECT_EQ(bytes[static_cast<std::size_t>(10 * 2)], 0x11) << name;
    }
}

TEST(text_overlay, planar_formats_draw_only_into_the_luma_plane)
{
    for (const char* name : {"I420", "YV16", "YU8p"}) {
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code |= static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
        }
        const int w = 32, h = 16;
        std::vector<std::uint8_t> bytes(img::image_buffer_size(code, w, h), gray_image::fill);
        draw_text(img::image_desc_make(bytes.data(), code, w, h, w, static_cast<std::uint32_t>(bytes.size())),
                  {2, 3}, 1, "AB", 2);
        int bad = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const cell c = expected_cell(x, y, 2, 3, 1, "AB");
                const std::uint8_t want = c == cell::untouched ? gray_image::fill : (c == cell::background ? 255 : 29);
                bad += bytes[static_cast<std::size_t>(y * w + x)] != want;
            }
        }
        EXPECT_EQ(bad, 0) << name;
        for (std::size_t i = static_cast<std::size_t>(w * h); i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], gray_image::fill) << name << " chroma byte " << i;
        }
    }
}

TEST(text_overlay, packed_yuv_writes_luma_and_the_group_chroma)
{
    const int w = 8, h = 12;
    {
        std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(w * 2 * h), 0x11);
        // x = 3 is odd: the box's first pixel is Y1 of group 1 (bytes 4..7).
        draw_text(img::image_desc_make(yuy2.data(), fourcc("YUY2"), w, h, w * 2, 0), {3, 0}, 1, "A", 1);
        EXPECT_EQ(yuy2[4], 0x11) << "Y0 of the group is left alone";
        EXPECT_EQ(yuy2[6], 235);
        EXPECT_EQ(yuy2[5], 128);
        EXPECT_EQ(yuy2[7], 128);
        // Line 1: box pixel 3 (x = 6, Y0 of group 3) is a glyph pixel of 'A', x = 7 is too.
        const std::size_t g3 = static_cast<std::size_t>(w * 2 + 12);
        EXPECT_EQ(yuy2[g3 + 0], 81);
        EXPECT_EQ(yuy2[g3 + 2], 81);
        EXPECT_EQ(yuy2[g3 + 1], 90);
        EXPECT_EQ(yuy2[g3 + 3], 240);
    }
    {
        std::vector<std::uint8_t> uyvy(static_cast<std::size_t>(w * 2 * h), 0x11);
        draw_text(img::image_desc_make(uyvy.data(), fourcc("UYVY"), w, h, w * 2, 0), {3, 0}, 1, "A", 1);
        EXPECT_EQ(uyvy[5], 0x11);
        EXPECT_EQ(uyvy[7], 235);
        EXPECT_EQ(uyvy[4], 128);
        EXPECT_EQ(uyvy[6], 128);
    }
    for (const char* name : {"Y411", "IYU1"}) {
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code |= static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
        }
        std::vector<std::uint8_t> y411(static_cast<std::size_t>(w * 3 / 2 * h), 0x11);
        // x = 2: pixels 2 and 3 of group 0 are Y2 (byte 4) and Y3 (byte 5).
        draw_text(img::image_desc_make(y411.data(), code, w, h, w * 3 / 2, 0), {2, 0}, 1, "A", 1);
        EXPECT_EQ(y411[1], 0x11) << name;
        EXPECT_EQ(y411[2], 0x11) << name;
        EXPECT_EQ(y411[4], 235) << name;
        EXPECT_EQ(y411[5], 235) << name;
        EXPECT_EQ(y411[0], 128) << name;
        EXPECT_EQ(y411[3], 128) << name;
    }
}

TEST(text_overlay, packed_yuv_line_shorter_than_its_width_is_not_overrun)
{
    // Odd width: the last pixel's group would reach two bytes past the line.
    const int w = 7, h = 10, stride = 14;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride * h), 0x11);
    draw_text(img::image_desc_make(bytes.data(), fourcc("YUY2"), w, h, stride, 0), {0, 0}, 1, "AB", 2);
    EXPECT_EQ(bytes[8], 235);
    EXPECT_EQ(bytes[11], 128);
    EXPECT_EQ(bytes[12], 0x11) << "pixel 6 would need bytes 12..15; its group is skipped";
    EXPECT_EQ(bytes[13], 0x11);
}

} // namespace
