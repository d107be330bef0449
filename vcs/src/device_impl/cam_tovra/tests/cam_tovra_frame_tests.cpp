// The camera class's per-frame processing called directly on frames made by
// the test: what it reads of a frame whose descriptor claims more than the
// frame holds, and the pattern-fix flag from the store.

#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device_impl/image/image_format.h"

namespace {

using namespace tovra_test;

float header_float(const cam::frame_wrapper& frame, std::size_t offset)
{
    float value = 0;
    std::memcpy(&value, frame.buffer + offset, sizeof value);
    return value;
}

// A Y800 frame whose first `valid_lines` lines run from `inside` up by one
// per column, 64 columns over, and whose remaining bytes hold `outside`; its
// descriptor claims the whole image.
struct test_frame {
    test_frame(std::uint32_t valid_lines, std::uint8_t inside, std::uint8_t outside)
        : frame(cam::make_frame_buffer(vga_size))
    {
        std::memset(frame->data(), outside, vga_size);
        for (std::size_t i = 0; i < std::size_t{valid_lines} * 640; ++i) {
            frame->data()[i] = static_cast<std::uint8_t>(inside + (i % 640) % 64);
        }
        frame->valid_data_size_ = std::uint64_t{valid_lines} * 640;
        image = img::image_desc_make(frame->data(), img::fourcc("Y800"), 640, 480, 640, vga_size);
    }
    std::unique_ptr<cam::frame_wrapper> frame;
    img::image_desc image;
};

TEST(tovra_frame, tone_mapping_measures_only_the_frames_valid_lines)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    auto& settings = bench.camera->tone_mapping();
    ASSERT_NE(settings.state, nullptr);
    settings.enable = true;
    settings.auto_mode = true;

    // Half a frame of dark lines; beyond them bright bytes the camera never
    // sent, which would lift the mean above 0.5.
    test_frame half(240, 0, 0xFF);
    bench.camera->process_frame(*half.frame, half.image);
    EXPECT_EQ(half.image.buffer_size, 240u * 640);
    EXPECT_EQ(half.frame->buffer[191], 1);
    EXPECT_EQ(half.frame->buffer[192], 1);
    const float lum_avg = header_float(*half.frame, 213);
    EXPECT_GT(lum_avg, 0.02f);
    EXPECT_LT(lum_avg, 0.25f);
    EXPECT_EQ(settings.lum_avg, lum_avg);
    EXPECT_EQ(header_float(*half.frame, 201), settings.mul_factor);

    // Nothing valid: nothing is measured, and no byte of the buffer is read.
    test_frame none(0, 0x10, 0xFF);
    bench.camera->process_frame(*none.frame, none.image);
    EXPECT_EQ(none.image.buffer_size, 0u);
}

TEST(tovra_frame, a_record_claiming_more_than_its_buffer_is_cut_to_the_buffer)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    test_frame frame(480, 0x40, 0x40);
    frame.frame->valid_data_size_ = frame.frame->capacity + 4096;
    bench.camera->process_frame(*frame.frame, frame.image);
    EXPECT_LE(frame.image.buffer_size, frame.frame->capacity);
    frame.frame->offset = frame.frame->capacity + 1; // beyond the data area
    bench.camera->process_frame(*frame.frame, frame.image);
    EXPECT_EQ(frame.image.buffer_size, 0u);
}

TEST(tovra_frame, the_pattern_fix_follows_the_store_at_every_start)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    test_frame frame(480, 0x40, 0x40);
    ASSERT_FALSE(bench.camera->pre_start());
    bench.camera->process_frame(*frame.frame, frame.image);
    EXPECT_EQ(frame.frame->buffer[219], 0);

    bench.store->write_int(cam::impl::cam_tovra::pattern_fix_key, 1);
    ASSERT_FALSE(bench.camera->pre_start());
    bench.camera->process_frame(*frame.frame, frame.image);
    EXPECT_EQ(frame.frame->buffer[219], 1);

    bench.store->write_int(cam::impl::cam_tovra::pattern_fix_key, 0);
    ASSERT_FALSE(bench.camera->pre_start());
    bench.camera->process_frame(*frame.frame, frame.image);
    EXPECT_EQ(frame.frame->buffer[219], 0);
}

} // namespace
