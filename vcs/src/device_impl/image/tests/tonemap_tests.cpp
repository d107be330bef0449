#include "device_impl/image/tonemap.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using cam::tonemap::tonemap_params;
using img::fourcc;

std::uint32_t bits_of(float f)
{
    return std::bit_cast<std::uint32_t>(f);
}

std::unique_ptr<img::tonemapping_auto_state> new_state()
{
    return std::make_unique<img::tonemapping_auto_state>(); // zero-filled, as the camera creates it
}

std::int64_t line_bytes_of(std::uint32_t code, int width)
{
    const std::uint32_t bpp = img::fourcc_bits_per_pixel(code);
    if (bpp == 10) {
        return (width - 1) / 4 * 5 + 5;
    }
    if (bpp == 12) {
        return (width - 1) / 2 * 3 + 3;
    }
    return width * static_cast<std::int64_t>(bpp / 8);
}

// A test frame: byte i of line y is (29 i + 71 y + (i y) mod 13 + 53 seed) mod 256,
// with 6 padding bytes after each line. tonemap_reference.py builds the same
// bytes to derive the golden values.
struct frame {
    std::vector<std::uint8_t> bytes;
    img::image_desc desc;

    frame(std::uint32_t code, int width, int height, int seed)
    {
        const std::int64_t line = line_bytes_of(code, width);
        const std::int64_t stride = line + 6;
        bytes.assign(static_cast<std::size_t>(stride * height), 0xEE);
        for (int y = 0; y < height; ++y) {
            for (std::int64_t i = 0; i < line; ++i) {
                bytes[static_cast<std::size_t>(y * stride + i)] =
                    static_cast<std::uint8_t>((i * 29 + y * 71 + (i * y) % 13 + seed * 53) & 0xFF);
            }
        }
        desc = img::image_desc_make(bytes.data(), code, width, height, static_cast<std::int32_t>(stride),
                                    static_cast<std::uint32_t>(bytes.size()));
    }
};

tonemap_params enabled(float intensity, float global_brightness)
{
    tonemap_params p;
    p.enable = 1;
    p.intensity = intensity;
    p.global_brightness = global_brightness;
    return p;
}

void expect_zero_outputs(const tonemap_params& p)
{
    EXPECT_EQ(p.gain, 0.0f);
    EXPECT_EQ(p.offset, 0.0f);
    EXPECT_EQ(p.key, 0.0f);
    EXPECT_EQ(p.lum_avg, 0.0f);
}

TEST(tonemap_curve, entries_match_the_polynomial_power_bit_for_bit)
{
    auto state = new_state();
    auto& table = state->table;
    cam::tonemap::build_curve_table(table, 0.5f, 0.3f, 0.25f, 0.4f);
    const struct {
        int index;
        std::uint32_t bits;
    } expected[] = {
        {0, 0x3EDCE289},    {1, 0x3EDCE289},     {2, 0x3EDCE47A},     {3, 0x3EDCE66C},
        {4, 0x3EDCE85D},    {5, 0x3EDCEA50},     {255, 0x3EDECBEE},   {4096, 0x3EF7DCD3},
        {32768, 0x3F303A3B}, {65534, 0x3F51DCA8}, {65535, 0x3F51DCDF},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(bits_of(table.entries[e.index]), e.bits) << "entry " << e.index;
    }
    EXPECT_EQ(table.intensity, 0.5f);
    EXPECT_EQ(table.key, 0.3f);
    EXPECT_EQ(table.global_brightness, 0.25f);
    EXPECT_EQ(table.lum_avg, 0.4f);

    // Lowest intensity, no global brightness: k = e^8 and entry i = (k i / 65535)^0.3.
    cam::tonemap::build_curve_table(table, -8.0f, 0.3f, 0.0f, 0.0f);
    EXPECT_EQ(bits_of(table.entries[0]), 0x3ECA98FDu);
    EXPECT_EQ(bits_of(table.entries[1]), 0x3ECA98FDu);
    EXPECT_EQ(bits_of(table.entries[100]), 0x3FC9A388u);
    EXPECT_EQ(bits_of(table.entries[65535]), 0x41305B77u);
}

TEST(tonemap_curve, intensity_is_clamped_to_plus_minus_eight)
{
    auto a = new_state();
    auto b = new_state();
    cam::tonemap::build_curve_table(a->table, 20.0f, 0.3f, 0.5f, 0.5f);
    cam::tonemap::build_curve_table(b->table, 8.0f, 0.3f, 0.5f, 0.5f);
    EXPECT_EQ(std::memcmp(a->table.entries, b->table.entries, sizeof a->table.entries), 0);
    cam::tonemap::build_curve_table(a->table, std::nanf(""), 0.3f, 0.5f, 0.5f);
    cam::tonemap::build_curve_table(b->table, -8.0f, 0.3f, 0.5f, 0.5f);
    EXPECT_EQ(std::memcmp(a->table.entries, b->table.entries, sizeof a->table.entries), 0);
}

// Mean of the first frame, gain and offset after it, then mean, gain and
// offset after a second frame (smoothing included); intensity 0.5, global
// brightness 0.25, 64 x 48 pixels. Key is 0.3 throughout.
struct family_case {
    const char* fourcc;
    std::uint32_t mean1, gain1, offset1, mean2, gain2, offset2;
};

constexpr family_case family_cases[] = {
    {"Y800", 0x3F01267C, 0x3FFCC19E, 0xBD9F56BC, 0x3F037E29, 0x3FF90B5B, 0xBD7B32B1},
    {"Y16 ", 0x3EEF1099, 0x3FF54022, 0xBD3BADEE, 0x3EF3BFF4, 0x3FF6818B, 0xBD54B9DC},
    {"RGGB", 0x3EFC9744, 0x3FE616F9, 0xBD70B979, 0x3EFF7DB8, 0x3FE399EA, 0xBD3E7F2D},
    {"GBRG", 0x3EFC9744, 0x3FE4FFBD, 0xBD77C6FC, 0x3EFF7DB8, 0x3FE25EEF, 0xBD43F268},
    {"BG16", 0x3EFB5E40, 0x3FE457DB, 0xBD043F09, 0x3F00E979, 0x3FE5467A, 0xBD16DE0C},
    {"BA16", 0x3EFB5E40, 0x3FE20945, 0xBD0ADFEE, 0x3F00E979, 0x3FE2DE43, 0xBD1E2998},
    {"Y12P", 0x3EF9E8A4, 0x3FF28332, 0xBCF12C0D, 0x3F01E02D, 0x3FF3847E, 0xBD0B0F14},
    {"GBCP", 0x3EFC1D19, 0x3FDECFBF, 0xBCA74733, 0x3F005CD6, 0x3FDF85AB, 0xBCC20A7D},
    {"Y1DP", 0x3EF763A3, 0x3FF1AEE7, 0xBCD98D0A, 0x3F00B92B, 0x3FF29692, 0xBCF9FF27},
    {"GRDP", 0x3EFB8A51, 0x3FDBB005, 0xBC9AFCA0, 0x3F01003B, 0x3FDC64AB, 0xBCB3E744},
    {"Y12p", 0x3F0D8BE3, 0x40001987, 0xBDA648F9, 0x3EF0BF47, 0x4000F894, 0xBDB944AA},
    {"RGCp", 0x3F07B56C, 0x3FEC5235, 0xBD61830C, 0x3EFDBCA9, 0x3FECDA73, 0xBD7C215F},
    {"Y10p", 0x3EF264F3, 0x3FEFC0D6, 0xBC030A59, 0x3F05BE86, 0x3FEED118, 0xBBD0D880},
    {"BGAp", 0x3EFB9DE0, 0x3FDD06F8, 0xBBB0AF95, 0x3F03692F, 0x3FDCF530, 0xBB8D4DE5},
};

std::uint32_t code_of(const char* name)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3])) << 24;
}

TEST(tonemap_process, two_frames_of_each_format_family_give_the_reference_results)
{
    for (const auto& c : family_cases) {
        SCOPED_TRACE(c.fourcc);
        const frame first(code_of(c.fourcc), 64, 48, 1);
        const frame second(code_of(c.fourcc), 64, 48, 2);
        EXPECT_EQ(bits_of(cam::tonemap::mean_luminance(first.desc)), c.mean1);

        auto state = new_state();
        tonemap_params p = enabled(0.5f, 0.25f);
        ASSERT_TRUE(cam::tonemap::process(*state, first.desc, p));
        EXPECT_EQ(bits_of(p.gain), c.gain1);
        EXPECT_EQ(bits_of(p.offset), c.offset1);
        EXPECT_EQ(p.key, 0.3f);
        EXPECT_EQ(bits_of(p.lum_avg), c.mean1);

        ASSERT_TRUE(cam::tonemap::process(*state, second.desc, p));
        EXPECT_EQ(bits_of(p.gain), c.gain2);
        EXPECT_EQ(bits_of(p.offset), c.offset2);
        EXPECT_EQ(p.key, 0.3f);
        EXPECT_EQ(bits_of(p.lum_avg), c.mean2);
    }
}

TEST(tonemap_process, disabled_or_held_computes_nothing_and_leaves_the_outputs)
{
    const frame f(fourcc("Y800"), 64, 48, 1);
    for (const auto& [enable, hold] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{0, 1}}) {
        auto state = new_state();
        tonemap_params p = enabled(0.5f, 0.25f);
        p.enable = static_cast<std::uint8_t>(enable);
        p.hold = static_cast<std::uint8_t>(hold);
        p.gain = 7.0f;
        p.offset = 6.0f;
        p.key = 5.0f;
        p.lum_avg = 4.0f;
        EXPECT_FALSE(cam::tonemap::process(*state, f.desc, p));
        EXPECT_EQ(p.gain, 7.0f);
        EXPECT_EQ(p.offset, 6.0f);
        EXPECT_EQ(p.key, 5.0f);
        EXPECT_EQ(p.lum_avg, 4.0f);
        EXPECT_EQ(state->initialised, 0);
    }
}

TEST(tonemap_process, out_of_range_settings_are_used_at_their_bounds)
{
    const frame f(fourcc("RGGB"), 64, 48, 1);
    auto a = new_state();
    auto b = new_state();
    tonemap_params wild = enabled(20.0f, -1.0f);
    tonemap_params bounds = enabled(8.0f, 0.0f);
    ASSERT_TRUE(cam::tonemap::process(*a, f.desc, wild));
    ASSERT_TRUE(cam::tonemap::process(*b, f.desc, bounds));
    EXPECT_NE(wild.gain, 0.0f);
    EXPECT_EQ(bits_of(wild.gain), bits_of(bounds.gain));
    EXPECT_EQ(bits_of(wild.offset), bits_of(bounds.offset));
    EXPECT_EQ(wild.intensity, 20.0f) << "the caller's settings are not rewritten";
}

TEST(tonemap_process, images_that_cannot_be_measured_give_zero_outputs)
{
    auto check = [](const img::image_desc& desc, const char* what) {
        SCOPED_TRACE(what);
        auto state = new_state();
        tonemap_params p = enabled(0.5f, 0.25f);
        p.gain = 3.0f;
        EXPECT_TRUE(cam::tonemap::process(*state, desc, p));
        expect_zero_outputs(p);
    };
    frame yuy2(fourcc("YUY2"), 64, 48, 1);
    EXPECT_EQ(cam::tonemap::mean_luminance(yuy2.desc), -1.0f);
    check(yuy2.desc, "unsupported format");

    frame short_image(fourcc("Y800"), 64, 3, 1);
    EXPECT_TRUE(std::isnan(cam::tonemap::mean_luminance(short_image.desc)));
    check(short_image.desc, "height 3");

    frame f(fourcc("Y16 "), 64, 48, 1);
    img::image_desc d = f.desc;
    d.width = 0;
    check(d, "zero width");
    d = f.desc;
    d.height = 0;
    check(d, "zero height");
    d = f.desc;
    d.stride = 64; // a 16-bit line needs 128 bytes
    check(d, "stride shorter than a line");
    d = f.desc;
    d.data = nullptr;
    check(d, "no data");
}

TEST(tonemap_process, uniform_black_and_white_frames_give_zero_outputs)
{
    for (const std::uint8_t value : {std::uint8_t{0}, std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
        SCOPED_TRACE(static_cast<int>(value));
        for (const char* name : {"Y800", "BA81", "Y16 ", "GB16", "Y12P", "RGAp"}) {
            frame f(code_of(name), 64, 48, 1);
            std::memset(f.bytes.data(), value, f.bytes.size());
            auto state = new_state();
            tonemap_params p = enabled(0.5f, 0.25f);
            EXPECT_TRUE(cam::tonemap::process(*state, f.desc, p)) << name;
            expect_zero_outputs(p);
        }
    }
}

TEST(tonemap_process, frame_shorter_than_its_descriptor_is_measured_on_the_lines_present)
{
    // Only the first 20 lines arrived; the buffer ends there.
    const frame full(fourcc("BG16"), 64, 48, 1);
    const std::size_t stride = static_cast<std::size_t>(full.desc.stride);
    std::vector<std::uint8_t> truncated(full.bytes.begin(), full.bytes.begin() + static_cast<long>(20 * stride));
    img::image_desc shorter = full.desc;
    shorter.data = truncated.data();
    shorter.buffer_size = static_cast<std::uint32_t>(truncated.size());
    img::image_desc twenty_lines = shorter;
    twenty_lines.height = 20;

    EXPECT_EQ(bits_of(cam::tonemap::mean_luminance(shorter)), bits_of(cam::tonemap::mean_luminance(twenty_lines)));
    auto a = new_state();
    auto b = new_state();
    tonemap_params pa = enabled(0.5f, 0.25f);
    tonemap_params pb = enabled(0.5f, 0.25f);
    ASSERT_TRUE(cam::tonemap::process(*a, shorter, pa));
    ASSERT_TRUE(cam::tonemap::process(*b, twenty_lines, pb));
    EXPECT_NE(pa.gain, 0.0f);
    EXPECT_EQ(bits_of(pa.gain), bits_of(pb.gain));

    // Less than one line: nothing to measure.
    shorter.buffer_size = 100;
    EXPECT_TRUE(std::isnan(cam::tonemap::mean_luminance(shorter)));
}

// A packed frame as the frame path describes it: the stride from
// image_stride (a 12-bit line of odd width ends inside a byte, a 10-bit line
// of a width that is no multiple of 4 inside a group) and a buffer that ends
// with the last line; beside it the same pixels as 16-bit values.
struct packed_and_wide {
    std::vector<std::uint8_t> packed;
    std::vector<std::uint8_t> wide;
    img::image_desc packed_desc{};
    img::image_desc wide_desc{};

    packed_and_wide(std::uint32_t code, std::uint32_t wide_code, int width, int height)
    {
        const std::int32_t stride = img::image_stride(code, width);
        packed.resize(img::image_buffer_size(code, width, height));
        const auto line_length = static_cast<std::size_t>(stride);
        for (std::size_t i = 0; i < packed.size(); ++i) {
            packed[i] = static_cast<std::uint8_t>((i * 29 + i * i % 251 + i / line_length * 71) & 0xFF);
        }
        wide.resize(static_cast<std::size_t>(2 * width * height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t v = decode(code, static_cast<std::size_t>(y) * stride, x);
                wide[static_cast<std::size_t>(2 * (y * width + x))] = static_cast<std::uint8_t>(v);
                wide[static_cast<std::size_t>(2 * (y * width + x) + 1)] = static_cast<std::uint8_t>(v >> 8);
            }
        }
        packed_desc = img::image_desc_make(packed.data(), code, width, height, stride,
                                           static_cast<std::uint32_t>(packed.size()));
        wide_desc = img::image_desc_make(wide.data(), wide_code, width, height, 2 * width,
                                         static_cast<std::uint32_t>(wide.size()));
    }

    // Pixel x of the line at `line`, on the 16-bit scale; bytes past the
    // buffer (of pixels the measurements never read) count as 0.
    std::uint32_t decode(std::uint32_t code, std::size_t line, int x) const
    {
        auto b = [&](std::size_t i) -> std::uint32_t { return line + i < packed.size() ? packed[line + i] : 0; };
        if (img::fourcc_bits_per_pixel(code) == 10) {
            const std::size_t g = static_cast<std::size_t>(x / 4) * 5;
            const std::uint32_t p[4] = {b(g) | (b(g + 1) & 3) << 8, b(g + 1) >> 2 | (b(g + 2) & 0x0F) << 6,
                                        b(g + 2) >> 4 | (b(g + 3) & 0x3F) << 4, b(g + 3) >> 6 | b(g + 4) << 2};
            return p[x % 4] << 6;
        }
        const std::size_t g = static_cast<std::size_t>(x / 2) * 3;
        const bool odd = (x % 2) != 0;
        std::uint32_t p = 0;
        if (code == fourcc("Y1DP")) {
            p = odd ? (b(g + 1) << 4 | b(g + 2) >> 4) : (b(g) << 4 | (b(g + 2) & 0x0F));
        } else if (code == fourcc("Y12p")) {
            p = odd ? (b(g + 1) >> 4 | b(g + 2) << 4) : (b(g) | (b(g + 1) & 0x0F) << 8);
        } else {
            p = odd ? (b(g + 2) << 4 | b(g + 1) >> 4) : (b(g) << 4 | (b(g + 1) & 0x0F));
        }
        return p << 4;
    }
};

TEST(tonemap_process, packed_frames_of_every_width_are_measured_like_their_16_bit_pixels)
{
    const struct {
        const char* packed;
        const char* wide;
    } formats[] = {{"Y12P", "Y16 "}, {"Y1DP", "Y16 "}, {"Y12p", "Y16 "}, {"Y10p", "Y16 "},
                   {"GBCP", "BG16"}, {"GBAp", "BG16"}};
    auto table_state = new_state();
    cam::tonemap::build_curve_table(table_state->table, 0.5f, 0.3f, 0.25f, 0.4f);
    for (const auto& f : formats) {
        const bool mono = code_of(f.wide) == fourcc("Y16 ");
        for (const int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13}) {
            SCOPED_TRACE(testing::Message() << f.packed << " width " << width);
            const packed_and_wide image(code_of(f.packed), code_of(f.wide), width, 16);
            const float mean = cam::tonemap::mean_luminance(image.packed_desc);
            const float wide_mean = cam::tonemap::mean_luminance(image.wide_desc);
            // Fewer than 5 columns leave no position for the mean.
            EXPECT_EQ(std::isnan(mean), width < 5);
            EXPECT_EQ(bits_of(mean), bits_of(wide_mean));

            if (mono) { // Bayer curve indices differ between packed and 16-bit cells
                const auto range = cam::tonemap::mapped_range(image.packed_desc, table_state->table);
                const auto wide_range = cam::tonemap::mapped_range(image.wide_desc, table_state->table);
                EXPECT_EQ(bits_of(range.lo), bits_of(wide_range.lo));
                EXPECT_EQ(bits_of(range.hi), bits_of(wide_range.hi));
                EXPECT_EQ(range.lo < 1.0f, width >= 3); // columns 0, 8, ... below width - 2
            }

            auto state = new_state();
            tonemap_params p = enabled(0.5f, 0.25f);
            ASSERT_TRUE(cam::tonemap::process(*state, image.packed_desc, p));
            if (width < 5) {
                expect_zero_outputs(p);
                continue;
            }
            EXPECT_GT(p.gain, 0.0f);
            EXPECT_TRUE(std::isfinite(p.gain));
            EXPECT_EQ(bits_of(p.lum_avg), bits_of(wide_mean));
            if (mono) {
                auto wide_state = new_state();
                tonemap_params q = enabled(0.5f, 0.25f);
                ASSERT_TRUE(cam::tonemap::process(*wide_state, image.wide_desc, q));
                EXPECT_EQ(bits_of(p.gain), bits_of(q.gain));
                EXPECT_EQ(bits_of(p.offset), bits_of(q.offset));
            }
        }
    }
}

TEST(tonemap_smooth, first_sample_is_taken_then_the_output_moves_a_fifth_of_the_way)
{
    img::tonemap_filter filter{};
    EXPECT_EQ(cam::tonemap::smooth(filter, 10.0f), 10.0f);
    EXPECT_EQ(cam::tonemap::smooth(filter, 20.0f), 12.0f);  // 10 + 0.2 * 10
    EXPECT_EQ(cam::tonemap::smooth(filter, 2.0f), 10.0f);   // 12 + 0.2 * -10
    EXPECT_EQ(cam::tonemap::smooth(filter, std::nanf("")), 10.0f);
    EXPECT_EQ(cam::tonemap::smooth(filter, INFINITY), 10.0f);
    EXPECT_EQ(filter.count, 3);
}

TEST(tonemap_smooth, full_window_follows_the_median_not_a_short_burst)
{
    img::tonemap_filter filter{};
    for (int i = 0; i < 21; ++i) {
        EXPECT_EQ(cam::tonemap::smooth(filter, 5.0f), 5.0f);
    }
    // Ten outliers leave the median of the last 21 at 5.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(cam::tonemap::smooth(filter, 1000.0f), 5.0f) << i;
    }
    // The eleventh makes 1000 the median: 5 + 0.2 * 995.
    EXPECT_EQ(cam::tonemap::smooth(filter, 1000.0f), 204.0f);
    EXPECT_EQ(filter.count, 21);
}

TEST(tonemap_process, filters_start_from_the_first_frame_measurements)
{
    // A first frame sets each filter's output to its own sample, so gain and
    // offset follow that frame's range alone; mapped_range gives it directly.
    const frame f(fourcc("GBRG"), 64, 48, 1);
    auto state = new_state();
    tonemap_params p = enabled(0.5f, 0.25f);
    ASSERT_TRUE(cam::tonemap::process(*state, f.desc, p));
    const cam::tonemap::output_range r = cam::tonemap::mapped_range(f.desc, state->table);
    EXPECT_EQ(state->hi_filter.output, r.hi);
    EXPECT_EQ(state->lo_filter.output, r.lo);
    EXPECT_EQ(state->key_filter.output, 0.3f);
    EXPECT_EQ(p.gain, 1.0f / (r.hi - r.lo));
}

TEST(tonemap_range, image_of_fewer_than_two_lines_has_an_empty_range)
{
    frame f(fourcc("Y800"), 64, 1, 1);
    auto state = new_state();
    const cam::tonemap::output_range r = cam::tonemap::mapped_range(f.desc, state->table);
    EXPECT_EQ(r.lo, 1000000.0f);
    EXPECT_EQ(r.hi, -1000000.0f);
}

} // namespace

namespace {

// The step with the whole curve rebuilt, composed of the public pieces.
struct full_rebuild_reference {
    std::unique_ptr<img::tonemapping_auto_state> s = new_state();

    tonemap_params step(const img::image_desc& image, float intensity, float global_brightness)
    {
        tonemap_params p = enabled(intensity, global_brightness);
        if (s->initialised == 0) {
            s->key_filter.output = 0.5f;
            s->lo_filter.output = 0.0f;
            s->hi_filter.output = 1.0f;
            s->initialised = 1;
        }
        const float mean = cam::tonemap::mean_luminance(image);
        if (!(mean >= 0.0f)) {
            return p;
        }
        const float key = cam::tonemap::smooth(s->key_filter, 0.3f);
        cam::tonemap::build_curve_table(s->table, intensity, key, global_brightness, mean);
        const cam::tonemap::output_range r = cam::tonemap::mapped_range(image, s->table);
        const float hi = cam::tonemap::smooth(s->hi_filter, r.hi);
        const float lo = cam::tonemap::smooth(s->lo_filter, r.lo);
        if (hi - lo > 0.0f) {
            p.gain = 1.0f / (hi - lo);
            p.offset = -(p.gain * lo);
            p.key = key;
            p.lum_avg = mean;
        }
        return p;
    }
};

TEST(tonemap_process, reusing_curve_entries_gives_the_results_of_a_full_rebuild_every_frame)
{
    // Small frames compute only the curve blocks they read, large 16-bit ones
    // build the whole table; repeated frames reuse the entries.
    const frame small_a(fourcc("BG16"), 64, 48, 1);
    const frame small_b(fourcc("BG16"), 64, 48, 2);
    const frame large(fourcc("BG16"), 776, 704, 3); // 88 x 97 sample positions: more than 8192
    const frame mono8(fourcc("Y800"), 776, 704, 4);  // many positions, but 256 curve indices
    const struct {
        const frame* f;
        float intensity;
    } sequence[] = {
        {&small_a, 0.5f}, {&small_a, 0.5f}, {&small_b, 0.5f}, {&large, 0.5f},  {&large, 0.5f},
        {&small_a, 0.5f}, {&small_a, 1.5f}, {&large, 1.5f},   {&small_b, 1.5f}, {&mono8, 1.5f},
        {&mono8, 1.5f},   {&large, -2.0f},  {&small_a, -2.0f},
    };
    auto state = new_state();
    full_rebuild_reference reference;
    int n = 0;
    for (const auto& step : sequence) {
        SCOPED_TRACE(n++);
        tonemap_params p = enabled(step.intensity, 0.25f);
        ASSERT_TRUE(cam::tonemap::process(*state, step.f->desc, p));
        const tonemap_params want = reference.step(step.f->desc, step.intensity, 0.25f);
        EXPECT_NE(want.gain, 0.0f);
        EXPECT_EQ(bits_of(p.gain), bits_of(want.gain));
        EXPECT_EQ(bits_of(p.offset), bits_of(want.offset));
        EXPECT_EQ(bits_of(p.lum_avg), bits_of(want.lum_avg));
        EXPECT_EQ(bits_of(p.key), bits_of(want.key));
    }
}

TEST(tonemap_process, curve_generation_wrapping_around_forgets_every_block)
{
    const frame a(fourcc("Y16 "), 64, 48, 1);
    const frame b(fourcc("Y16 "), 64, 48, 2);
    auto state = new_state();
    full_rebuild_reference reference;
    tonemap_params p = enabled(0.5f, 0.25f);
    ASSERT_TRUE(cam::tonemap::process(*state, a.desc, p));
    reference.step(a.desc, 0.5f, 0.25f);
    // The next curve would be generation 0 again; blocks stamped long ago must
    // not pass for current ones.
    state->blocks.generation = 0xFFFFFFFFu;
    for (auto& stamp : state->blocks.stamp) {
        stamp = 1;
    }
    ASSERT_TRUE(cam::tonemap::process(*state, b.desc, p));
    const tonemap_params want = reference.step(b.desc, 0.5f, 0.25f);
    EXPECT_EQ(bits_of(p.gain), bits_of(want.gain));
    EXPECT_EQ(bits_of(p.offset), bits_of(want.offset));
    EXPECT_EQ(state->blocks.generation, 1u);
}

} // namespace
