#include "device_impl/image/image_format.h"

#include <gtest/gtest.h>

namespace {

using img::fourcc;

TEST(image_format, fourcc_is_little_endian_characters)
{
    EXPECT_EQ(fourcc("YUY2"), 0x32595559u);
    EXPECT_EQ(fourcc("Y16 "), 0x20363159u);
}

TEST(image_format, bits_per_pixel_by_fourcc)
{
    const struct {
        const char* code;
        std::uint32_t bits;
    } cases[] = {
        {"BA81", 8},  {"BY8 ", 8},  {"GBRG", 8},  {"CBY0", 9},  {"CY60", 9},   {"Y10p", 10}, {"RGAp", 10},
        {"IYU1", 12}, {"I420", 12}, {"GRCp", 12}, {"Y12p", 12}, {"Y12P", 12},  {"BG16", 16}, {"YUY2", 16},
        {"UYVY", 16}, {"YV16", 16}, {"Y16 ", 16}, {"RGB3", 24}, {"MJPG", 24},  {"YU8p", 24}, {"RGB4", 32},
        {"ADI1", 32}, {"YUGp", 48}, {"RGB6", 64}, {"PPM2", 64}, {"YUfp", 96},  {"ADC2", 128},
        {"NV12", 0},  {"RGB5", 0},  {"y800", 0},  {"Y16\0", 0},
    };
    for (const auto& c : cases) {
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code |= static_cast<std::uint32_t>(static_cast<unsigned char>(c.code[i])) << (8 * i);
        }
        EXPECT_EQ(img::fourcc_bits_per_pixel(code), c.bits) << c.code;
    }
    EXPECT_EQ(img::fourcc_bits_per_pixel(0), 0u);
}

TEST(image_format, stride_and_buffer_size_follow_each_format_rule)
{
    const struct {
        std::uint32_t code;
        std::int32_t width, height, stride;
        std::uint32_t size;
    } cases[] = {
        {fourcc("I420"), 640, 480, 640, 460800},       // 307200 + 2 * 76800
        {fourcc("YV16"), 640, 480, 640, 614400},       // 307200 + 2 * 153600
        {fourcc("I420"), 3, 3, 3, 13},                 // n = 9: 9 + 2 * 2
        {fourcc("YV16"), 3, 3, 3, 17},                 // 9 + 2 * 4
        {fourcc("ADp1"), 10, 4, 10, 160},              // stride * height * 4
        {fourcc("ADp2"), 10, 4, 20, 320},
        {fourcc("YU8p"), 10, 4, 10, 120},              // stride * height * 3
        {fourcc("YUGp"), 10, 4, 20, 240},
        {fourcc("YUfp"), 10, 4, 40, 480},
        {fourcc("RGB4"), 640, 480, 2560, 1228800},
        {fourcc("RGB3"), 641, 2, 1923, 3846},
        {fourcc("Y800"), 1920, 1080, 1920, 2073600},
        {fourcc("Y10p"), 7, 2, 8, 16},                 // 7 * 10 / 8 truncates
        {fourcc("Y12p"), 5, 2, 7, 14},
        {fourcc("ADC2"), 3, 1, 48, 48},
        {fourcc("NV12"), 640, 480, 0, 0},              // unknown
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(img::fourcc_name(c.code) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(img::image_stride(c.code, c.width), c.stride);
        EXPECT_EQ(img::image_buffer_size(c.code, c.width, c.height), c.size);
    }
}

TEST(image_format, sizes_that_do_not_fit_32_bits_are_zero_not_wrapped)
{
    EXPECT_EQ(img::image_buffer_size(fourcc("RGB4"), 65535, 65535), 0u);  // 17 GB
    EXPECT_EQ(img::image_buffer_size(fourcc("ADC2"), 0x7FFFFFFF, 1), 0u); // stride past 2^31
    EXPECT_EQ(img::image_stride(fourcc("ADC2"), 0x7FFFFFFF), 0);
    EXPECT_EQ(img::image_buffer_size(fourcc("I420"), 0x10000, 0x10000), 0u);
    EXPECT_EQ(img::image_stride(fourcc("Y800"), -5), 0);
    EXPECT_EQ(img::image_buffer_size(fourcc("Y800"), 16, -2), 0u);
    EXPECT_EQ(img::image_buffer_size(fourcc("Y800"), 65536, 65535), 4294901760u); // still fits
}

TEST(image_format, descriptor_carries_plane_size_only_for_planar_formats)
{
    std::uint8_t pixels[16] = {};
    const img::image_desc planar = img::image_desc_make(pixels, fourcc("I420"), 640, 480, -640, 460800);
    EXPECT_EQ(planar.fourcc, fourcc("I420"));
    EXPECT_EQ(planar.width, 640);
    EXPECT_EQ(planar.height, 480);
    EXPECT_EQ(planar.stride, -640);
    EXPECT_EQ(planar.buffer_size, 460800u);
    EXPECT_EQ(planar.data, pixels);
    EXPECT_EQ(planar.plane_size, 307200u) << "a negative stride still gives a positive plane size";
    EXPECT_EQ(planar.reserved, 0u);

    for (const char* name : {"YV16", "ADp1", "ADp2", "YU8p", "YUGp", "YUfp"}) {
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            code |= static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
        }
        EXPECT_EQ(img::image_desc_make(pixels, code, 4, 3, 8, 0).plane_size, 24u) << name;
    }
    EXPECT_EQ(img::image_desc_make(pixels, fourcc("Y800"), 640, 480, 640, 307200).plane_size, 0u);
    EXPECT_EQ(img::image_desc_make(pixels, fourcc("YUY2"), 640, 480, 1280, 614400).plane_size, 0u);
}

TEST(image_format, names_for_log_lines)
{
    EXPECT_EQ(img::fourcc_name(fourcc("RGB4")), "RGB32");
    EXPECT_EQ(img::fourcc_name(fourcc("RGB3")), "RGB24");
    EXPECT_EQ(img::fourcc_name(0), "NULL");
    EXPECT_EQ(img::fourcc_name(fourcc("YUY2")), "'YUY2'");
    EXPECT_EQ(img::fourcc_name(fourcc("Y16 ")), "'Y16 '");
}

} // namespace
