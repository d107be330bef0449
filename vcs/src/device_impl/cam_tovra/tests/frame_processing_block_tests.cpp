// The header's processing block: every byte from 80 to 223 at the offset the
// consumer reads it, with the values each group writes when in use and when
// not.

#include "device_impl/cam_tovra/frame_processing_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "device_impl/image/image_format.h"

namespace {

using cam::impl::processing_block;

template <typename T>
T at(const std::vector<std::uint8_t>& header, std::size_t offset)
{
    T value{};
    std::memcpy(&value, header.data() + offset, sizeof value);
    return value;
}

std::vector<std::uint8_t> written(const processing_block& block)
{
    std::vector<std::uint8_t> header(4096, 0xCD);
    cam::impl::write_processing_block(header.data(), block);
    return header;
}

TEST(frame_processing_block, groups_not_in_use_leave_their_neutral_values)
{
    processing_block b;
    b.fourcc = img::fourcc("Y800");
    b.width = 640;
    b.height = 480;
    b.stride = 640;
    b.processor_features = 0x3F;
    const auto h = written(b);
    // Outside the block nothing changes.
    EXPECT_EQ(h[79], 0xCD);
    EXPECT_EQ(h[224], 0xCD);
    EXPECT_EQ(at<std::uint32_t>(h, 80), img::fourcc("Y800"));
    EXPECT_EQ(at<std::int32_t>(h, 84), 640);
    EXPECT_EQ(at<std::int32_t>(h, 88), 480);
    EXPECT_EQ(at<std::int32_t>(h, 92), 640);
    EXPECT_EQ(at<std::uint32_t>(h, 96), 0u);
    EXPECT_EQ(at<std::uint32_t>(h, 100), 0x3Fu);
    EXPECT_EQ(at<std::uint32_t>(h, 104), 0u);
    for (std::size_t i = 108; i < 147; ++i) {
        EXPECT_EQ(h[i], 0) << i;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(at<float>(h, 147 + 4 * i), 1.0f);
    }
    EXPECT_EQ(at<float>(h, 163), 1.0f);
    EXPECT_EQ(at<float>(h, 167), 0.0f);
    EXPECT_EQ(at<std::int32_t>(h, 171), 0);
    EXPECT_EQ(at<std::int32_t>(h, 175), 0);
    EXPECT_EQ(at<std::int32_t>(h, 179), 0);
    EXPECT_EQ(at<std::int32_t>(h, 183), 0);
    EXPECT_EQ(at<float>(h, 187), 1.0f);
    EXPECT_EQ(h[191], 0);
    EXPECT_EQ(h[192], 0);
    EXPECT_EQ(at<float>(h, 193), 1.0f);
    EXPECT_EQ(at<float>(h, 197), 0.5f);
    for (std::size_t i = 201; i < 220; ++i) {
        EXPECT_EQ(h[i], 0) << i;
    }
    EXPECT_EQ(at<std::uint32_t>(h, 220), 0u);
}

TEST(frame_processing_block, groups_in_use_write_their_values)
{
    processing_block b;
    b.plane_size = 1234;
    b.max_concurrency = 3;
    b.color = processing_block::color_matrix{true, {1.0f, -0.5f, 0.25f, 2.5f, -3.0f, 0.0078f, 0.0079f, NAN, 1.99f}};
    b.procamp.saturation = 128.0f;
    b.procamp.hue = -90.0f;
    b.procamp.brightness = -7;
    b.procamp.contrast = 3;
    b.procamp.sharpness = 9;
    b.procamp.denoise_level = 40; // beyond 25
    b.procamp.gamma = 250.0f;
    b.tone = processing_block::tone_mapping{true, 0.5f, 0.25f, std::array<float, 4>{1.5f, -0.25f, 0.75f, 0.4f}};
    b.pattern_fix = true;
    b.polarization_mode = 4;
    const auto h = written(b);
    EXPECT_EQ(at<std::uint32_t>(h, 96), 1234u);
    EXPECT_EQ(at<std::uint32_t>(h, 104), 3u);
    EXPECT_EQ(h[108], 0);
    EXPECT_EQ(h[109], 1);
    const std::int32_t expected[9] = {64, -32, 16, 127, -128, 0, 1, 0, 127};
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(at<std::int32_t>(h, 110 + 4 * i), expected[i]) << i;
    }
    EXPECT_EQ(h[146], 0);
    EXPECT_EQ(at<float>(h, 163), 2.0f);
    EXPECT_EQ(at<float>(h, 167), -0.5f);
    EXPECT_EQ(at<std::int32_t>(h, 171), -7);
    EXPECT_EQ(at<std::int32_t>(h, 175), 15);
    EXPECT_EQ(at<std::int32_t>(h, 179), 9);
    EXPECT_EQ(at<std::int32_t>(h, 183), 25);
    EXPECT_EQ(at<float>(h, 187), 2.5f);
    EXPECT_EQ(h[191], 1);
    EXPECT_EQ(h[192], 1);
    EXPECT_EQ(at<float>(h, 193), 0.5f);
    EXPECT_EQ(at<float>(h, 197), 0.25f);
    EXPECT_EQ(at<float>(h, 201), 1.5f);
    EXPECT_EQ(at<float>(h, 205), -0.25f);
    EXPECT_EQ(at<float>(h, 209), 0.75f);
    EXPECT_EQ(at<float>(h, 213), 0.4f);
    EXPECT_EQ(at<std::uint16_t>(h, 217), 0u);
    EXPECT_EQ(h[219], 1);
    EXPECT_EQ(at<std::uint32_t>(h, 220), 4u);
}

TEST(frame_processing_block, tone_mapping_of_an_unmeasured_format_keeps_its_factors_zero)
{
    processing_block b;
    b.tone = processing_block::tone_mapping{false, 0.5f, 0.0f, std::nullopt};
    const auto h = written(b);
    EXPECT_EQ(h[191], 0);
    EXPECT_EQ(h[192], 0);
    EXPECT_EQ(at<float>(h, 193), 0.5f);
    EXPECT_EQ(at<float>(h, 197), 0.0f);
    for (std::size_t i = 201; i < 217; ++i) {
        EXPECT_EQ(h[i], 0) << i;
    }
}

} // namespace
