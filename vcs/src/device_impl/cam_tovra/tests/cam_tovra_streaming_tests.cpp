// The camera class streaming from the simulated camera: acquisition start
// and stop around the pipe, chunk data in the frame header, the processing
// block of every frame, and frames from a device whose chunk data or
// description is not what the camera class expects.

#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"

namespace {

using namespace tovra_test;
using sim_camera::reg_acquisition_start;
using sim_camera::reg_acquisition_stop;
using sim_camera::reg_chunk_mode_active;

template <typename T>
T block_value(const frame_record& f, std::size_t header_offset)
{
    T value{};
    std::memcpy(&value, f.processing_block.data() + header_offset - 80, sizeof value);
    return value;
}

struct mode_case {
    const char* name;
    std::uint32_t source_transfer; // 0: whole frames
};

bench_options in_mode(const mode_case& c)
{
    bench_options options;
    options.source_transfer = c.source_transfer;
    return options;
}

class tovra_streaming : public ::testing::TestWithParam<mode_case> {};

TEST_P(tovra_streaming, pause_writes_acquisition_stop_and_keeps_the_pipe_until_start_resumes)
{
    tovra_bench bench(in_mode(GetParam()));
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_FALSE(bench.io.camera.acquiring());
    ASSERT_TRUE(bench.start_vga());
    EXPECT_EQ(bench.camera->full_frame(), GetParam().source_transfer == 0);
    EXPECT_EQ(bench.writes_at(reg_acquisition_start), 1u);
    ASSERT_TRUE(bench.sink.wait_for_frames(3));
    const auto pipe = bench.camera->endpoint_pipe();
    for (std::size_t round = 1; round <= 3; ++round) {
        bench.camera->stop_streaming();
        EXPECT_EQ(bench.writes_at(reg_acquisition_stop), round);
        EXPECT_TRUE(pipe->running()) << round;
        // The camera holds the pipe's reads while it does not acquire.
        EXPECT_TRUE(bench.io.camera.wait_for_waiting_transfers(1)) << round;
        const std::size_t paused_at = bench.sink.frame_count();
        ASSERT_FALSE(bench.camera->start_streaming()) << round;
        EXPECT_EQ(bench.writes_at(reg_acquisition_start), round + 1);
        EXPECT_EQ(bench.camera->endpoint_pipe(), pipe);
        EXPECT_TRUE(bench.sink.wait_for_frames(paused_at + 3)) << round << ": " << bench.sink.frame_count();
    }
    bench.release();
    EXPECT_FALSE(pipe->running());
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good) << f.image_number;
    }
}

TEST_P(tovra_streaming, chunk_frames_carry_the_block_id_and_their_image_untouched)
{
    tovra_bench bench(in_mode(GetParam()));
    log_capture log;
    ASSERT_TRUE(bench.open_and_init());
    ASSERT_TRUE(bench.start_vga());
    EXPECT_EQ(bench.writes_at(reg_chunk_mode_active), 1u);
    EXPECT_EQ(bench.gencp->peek(reg_chunk_mode_active, 4), (sim_camera::bytes{1, 0, 0, 0}));
    EXPECT_TRUE(bench.camera->chunk_mode_active());
    EXPECT_EQ(log.count("[CamTovra] ChunkMode status=0x0."), 1u);
    ASSERT_TRUE(bench.sink.wait_for_frames(6));
    bench.release();
    std::uint64_t last_block = 0;
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good) << f.image_number;
        EXPECT_EQ(f.valid_size, vga_size + sim_camera::payload_source::chunk_bytes);
        EXPECT_NE(f.flags & cam::frame_header::flag_chunk_data, 0u);
        ASSERT_TRUE(f.trailer_block_id.has_value());
        EXPECT_EQ(f.offset_28, *f.trailer_block_id);
        EXPECT_GT(f.offset_28, last_block);
        last_block = f.offset_28;
        // The processing block of a mono camera with tone mapping off.
        EXPECT_EQ(block_value<std::uint32_t>(f, 80), img::fourcc("Y800"));
        EXPECT_EQ(block_value<std::int32_t>(f, 84), 640);
        EXPECT_EQ(block_value<std::int32_t>(f, 88), 480);
        EXPECT_EQ(block_value<std::int32_t>(f, 92), 640);
        EXPECT_EQ(block_value<std::uint32_t>(f, 100), bench.camera->processor_features());
        EXPECT_EQ(block_value<std::uint8_t>(f, 191), 0);
        EXPECT_EQ(block_value<std::uint8_t>(f, 192), 1);
        EXPECT_EQ(block_value<float>(f, 193), 0.5f);
        EXPECT_EQ(block_value<float>(f, 201), 1.0f);
        EXPECT_EQ(block_value<std::uint8_t>(f, 219), 0); // no pattern-fix key in the store
    }
}

INSTANTIATE_TEST_SUITE_P(modes, tovra_streaming,
                         ::testing::Values(mode_case{"payload", 16384}, mode_case{"full_frame", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(tovra_streaming_variants, without_acquisition_stop_a_pause_stops_the_pipe_and_start_restarts_it)
{
    bench_options options;
    options.description.acquisition_stop = false;
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_TRUE(bench.camera->has_acquisition_start());
    EXPECT_FALSE(bench.camera->has_acquisition_stop());
    ASSERT_TRUE(bench.start_vga());
    ASSERT_TRUE(bench.sink.wait_for_frames(3));
    const auto pipe = bench.camera->endpoint_pipe();
    for (std::size_t round = 1; round <= 3; ++round) {
        bench.camera->stop_streaming();
        EXPECT_FALSE(pipe->running()) << round;
        EXPECT_EQ(bench.writes_at(reg_acquisition_stop), 0u);
        const std::size_t paused_at = bench.sink.frame_count();
        ASSERT_FALSE(bench.camera->start_streaming()) << round;
        EXPECT_TRUE(pipe->running()) << round;
        EXPECT_EQ(bench.writes_at(reg_acquisition_start), round + 1);
        EXPECT_TRUE(bench.sink.wait_for_frames(paused_at + 3)) << round << ": " << bench.sink.frame_count();
    }
}

TEST(tovra_streaming_variants, a_camera_without_acquisition_or_chunk_features_streams_plain_frames)
{
    bench_options options;
    options.description.acquisition_start = false;
    options.description.acquisition_stop = false;
    options.description.chunk_mode_active = false;
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_TRUE(bench.camera->u3v_port_open());
    EXPECT_FALSE(bench.camera->has_acquisition_start());
    ASSERT_TRUE(bench.start_vga());
    EXPECT_FALSE(bench.camera->chunk_mode_active());
    ASSERT_TRUE(bench.sink.wait_for_frames(4));
    bench.camera->stop_streaming();
    EXPECT_FALSE(bench.camera->endpoint_pipe()->running());
    EXPECT_EQ(bench.writes_at(reg_chunk_mode_active) + bench.writes_at(reg_acquisition_start) +
                  bench.writes_at(reg_acquisition_stop),
              0u);
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good);
        EXPECT_EQ(f.valid_size, vga_size);
        EXPECT_EQ(f.flags & cam::frame_header::flag_chunk_data, 0u);
        EXPECT_LE(f.offset_28, 1u); // the FID bit
    }
}

TEST(tovra_streaming_variants, a_block_id_of_another_kind_leaves_the_fid_in_the_header)
{
    bench_options options;
    options.description.chunk_block_id_register = false;
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_FALSE(bench.camera->has_chunk_block_id());
    EXPECT_EQ(bench.camera->chunk_adapter_count(), 1u);
    ASSERT_TRUE(bench.start_vga());
    ASSERT_TRUE(bench.sink.wait_for_frames(4));
    bench.release();
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good);
        ASSERT_TRUE(f.trailer_block_id.has_value());
        EXPECT_NE(f.flags & cam::frame_header::flag_chunk_data, 0u);
        EXPECT_LE(f.offset_28, 1u);
    }
}

TEST(tovra_streaming_variants, chunk_lengths_beyond_the_frame_are_not_followed)
{
    tovra_bench bench;
    // The first three frames' block-id trailers claim a length reaching
    // before the frame's start.
    for (int i = 0; i < 3; ++i) {
        bench.source.inject(sim_camera::payload_fault::chunk_length_beyond);
    }
    ASSERT_TRUE(bench.open_and_init());
    ASSERT_TRUE(bench.start_vga());
    ASSERT_TRUE(bench.sink.wait_for_frames(6));
    bench.release();
    std::size_t faulty = 0;
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good) << f.image_number;
        if (f.image_number < 3) {
            ++faulty;
            EXPECT_EQ(f.flags & cam::frame_header::flag_chunk_data, 0u) << f.image_number;
            EXPECT_LE(f.offset_28, 1u) << f.image_number;
        } else {
            EXPECT_NE(f.flags & cam::frame_header::flag_chunk_data, 0u) << f.image_number;
            EXPECT_EQ(f.offset_28, f.trailer_block_id.value_or(0)) << f.image_number;
        }
    }
    EXPECT_GE(faulty, 1u);
}

TEST(tovra_streaming_variants, a_refused_acquisition_start_fails_the_start_and_is_logged)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    sim_camera::gencp_fault fault;
    fault.address = reg_acquisition_start;
    fault.command_id = 0x0802;
    fault.status = 0x8006;
    bench.gencp->add_fault(fault);
    log_capture log;
    const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
    ASSERT_FALSE(bench.camera->try_start(vga, interval));
    EXPECT_TRUE(bench.camera->start_streaming());
    EXPECT_EQ(log.count("[CamTovra] AcquisitionStart res="), 1u);
    bench.camera->stop_streaming();
    EXPECT_EQ(log.count("[CamTovra] AcquisitionStop res="), 0u);
}

} // namespace
