// The stream channel of the device over the simulated camera: formats and
// frame rates, creating, starting, pausing and closing the channel, frames
// taken through the named semaphore and mappings, and the refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include <sim_gencp.h>

#include "device_bench.h"

namespace {

using namespace camtovra_test;

constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007A);
constexpr HRESULT no_format_selected = static_cast<HRESULT>(0x80070490);

class device_stream : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(bench.open()); }

    device_bench bench{GetParam(), 200};
};

struct pause_case {
    bool full_frame;
    bool acquisition_stop; // the camera's description has AcquisitionStop
};

class device_pause : public ::testing::TestWithParam<pause_case> {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(bench.open()); }

    device_bench bench{GetParam().full_frame, 200, GetParam().acquisition_stop};
};

TEST_P(device_stream, formats_and_frame_rates_answer_counts_and_short_buffers)
{
    std::uint32_t count = 0;
    EXPECT_EQ(bench.device->get_stream_format_desc(0, nullptr, &count), insufficient_buffer);
    ASSERT_GE(count, 1u);
    std::vector<DShowDeviceServer_StreamFormatInfo> formats(count);
    std::uint32_t again = 0;
    EXPECT_EQ(bench.device->get_stream_format_desc(count, nullptr, &again), E_POINTER);
    ASSERT_EQ(bench.device->get_stream_format_desc(count, formats.data(), &again), S_OK);
    EXPECT_EQ(again, count);
    const auto list = bench.device->camera()->list_formats();
    ASSERT_EQ(list.size(), count);
    EXPECT_EQ(std::memcmp(formats.data(), list.data(), count * sizeof(formats[0])), 0);

    DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_NE(format.StreamFormatInfoId, device_bench::no_format);
    std::uint32_t rates = 0;
    EXPECT_EQ(bench.device->get_stream_format_frame_rates(&format, nullptr, 0, &rates), insufficient_buffer);
    ASSERT_GE(rates, 1u);
    std::vector<std::uint64_t> intervals(rates);
    ASSERT_EQ(bench.device->get_stream_format_frame_rates(&format, intervals.data(), rates, &rates), S_OK);
    EXPECT_EQ(intervals, bench.device->camera()->get_frame_intervals(format.StreamFormatInfoId).value());
    format.StreamFormatInfoId = 999;
    EXPECT_EQ(bench.device->get_stream_format_frame_rates(&format, intervals.data(), rates, &rates), E_INVALIDARG);
}

// With AcquisitionStop a pause writes it and the pipe keeps running; without
// it a pause stops the pipe and a start restarts it. Either way frames resume
// and every buffer still circulates.
TEST_P(device_pause, frames_stream_through_the_named_channel_across_pause_and_resume)
{
    const pause_case c = GetParam();
    DShowDeviceServer_StreamFormat current{};
    EXPECT_EQ(bench.device->get_stream_format_current(&current), no_format_selected);
    EXPECT_EQ(bench.device->get_stream_format().width, 0);
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    ASSERT_EQ(bench.device->get_stream_format_current(&current), S_OK);
    EXPECT_EQ(std::memcmp(&current, &format, sizeof format), 0);
    const cam::stream_format selected = bench.device->get_stream_format();
    EXPECT_EQ(selected.fourcc, img::fourcc("Y800"));
    EXPECT_EQ(selected.width, 640);
    EXPECT_EQ(selected.buffer_length, vga_size);

    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    std::uint8_t block[256]{};
    std::uint64_t id = 0;
    EXPECT_EQ(bench.device->get_frame_info(4, block, &id), E_INVALIDARG);

    ASSERT_EQ(bench.device->start_stream(), S_OK);
    // A reader that falls behind may miss frames, each counted as dropped:
    // channel_reader checks that every frame it missed was counted.
    ASSERT_TRUE(reader.take(20));
    const std::size_t stops_before = bench.unit.writes_at(sim_camera::reg_acquisition_stop);
    const std::size_t starts_before = bench.unit.writes_at(sim_camera::reg_acquisition_start);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(bench.device->pause_stream(), S_OK);
        const auto pipe = bench.device->camera()->endpoint_pipe();
        ASSERT_NE(pipe, nullptr);
        EXPECT_EQ(pipe->running(), c.acquisition_stop) << round;
        ASSERT_EQ(bench.device->start_stream(), S_OK) << round;
        EXPECT_TRUE(pipe->running()) << round;
        reader.new_run = true;
        ASSERT_TRUE(reader.take(12)) << round;
    }
    EXPECT_EQ(bench.unit.writes_at(sim_camera::reg_acquisition_stop) - stops_before, c.acquisition_stop ? 3u : 0u);
    EXPECT_EQ(bench.unit.writes_at(sim_camera::reg_acquisition_start) - starts_before, 3u);
    // Across the pauses too, every frame missed was counted: a pause may cut
    // a frame short (lost), and the simulated camera catches up on the frames
    // it missed while paused in a burst that the queue of two may overflow.
    EXPECT_GE(reader.counts.frames_delivered, 12u);
    EXPECT_TRUE(reader.take_all_buffers()) << "every buffer keeps circulating";
    EXPECT_TRUE(reader.finish(*bench.unit.source));

    EXPECT_EQ(bench.device->close_stream_channel(), S_OK);
    EXPECT_EQ(bench.device->channel().buffers(), 0u);
    EXPECT_EQ(bench.device->camera()->endpoint_pipe(), nullptr);
    ASSERT_EQ(bench.device->get_stream_format_current(&current), S_OK) << "the last format stays";
    EXPECT_EQ(current.Dimension.cx, 640);
    EXPECT_EQ(bench.device->get_frame_info(0, block, &id), E_INVALIDARG);
}

// A client that pauses and starts more often than it needs to: a start of a
// running stream changes nothing of it, and after the start that follows a
// pause the client gets only frames of the new run, each once, their numbers
// rising.
TEST_P(device_pause, repeated_pauses_and_starts_hand_out_each_frame_once_with_numbers_rising_after_every_start)
{
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(reader.take(5));
    camtovra::device& device = *bench.device;
    const std::size_t starts_before = bench.unit.writes_at(sim_camera::reg_acquisition_start);
    constexpr int rounds = 25;
    for (int round = 0; round < rounds; ++round) {
        for (const bool start : {false, false, true, true, true, false, false, false, true, true}) {
            ASSERT_EQ(start ? device.start_stream() : device.pause_stream(), S_OK) << round;
        }
        reader.restarted(2);
        ASSERT_TRUE(reader.take(10)) << round;
    }
    EXPECT_EQ(bench.unit.writes_at(sim_camera::reg_acquisition_start) - starts_before, 5u * rounds);
    EXPECT_TRUE(reader.finish(*bench.unit.source));
    EXPECT_EQ(device.close_stream_channel(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(modes, device_pause,
                         ::testing::Values(pause_case{false, true}, pause_case{true, true}, pause_case{false, false},
                                           pause_case{true, false}),
                         [](const auto& info) {
                             return std::string(info.param.full_frame ? "full_frame" : "payload") +
                                    (info.param.acquisition_stop ? "_acquisition_stop" : "_no_acquisition_stop");
                         });

TEST_P(device_stream, a_second_channel_is_refused_while_the_first_streams_and_a_bad_id_leaves_the_device_idle)
{
    DShowDeviceServer_StreamFormat format = bench.vga_request();
    format.StreamFormatInfoId = 999;
    EXPECT_EQ(bench.device->create_stream_channel(&format), E_INVALIDARG);
    EXPECT_EQ(bench.device->create_stream_channel(nullptr), E_POINTER);
    format = bench.vga_request();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(reader.take(3));
    EXPECT_EQ(bench.device->create_stream_channel(&format), E_ACCESSDENIED);
    ASSERT_TRUE(reader.take(5)) << "the first channel keeps working";
    EXPECT_TRUE(reader.finish(*bench.unit.source));
    EXPECT_EQ(bench.device->close_stream_channel(), S_OK);
    // Closed: a new channel may be made and streams again.
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader second(*bench.device, std::nullopt); // the camera's numbering goes on
    ASSERT_TRUE(second.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(second.take(5));
    EXPECT_TRUE(second.finish(*bench.unit.source));
}

// An interval longer than the camera's 32 bits carry is refused, not cut.
TEST_P(device_stream, an_interval_past_32_bits_is_refused_before_the_camera_is_asked)
{
    DShowDeviceServer_StreamFormat format = bench.vga_request();
    format.AverageTimePerFrame = (std::uint64_t{1} << 32) + vga_interval;
    const int commits_before = bench.responder->commit_count();
    EXPECT_EQ(bench.device->create_stream_channel(&format), E_INVALIDARG);
    EXPECT_EQ(bench.responder->commit_count(), commits_before) << "nothing was committed";
    DShowDeviceServer_StreamFormat current{};
    EXPECT_EQ(bench.device->get_stream_format_current(&current), no_format_selected);
    format.AverageTimePerFrame = 0xFFFFFFFF; // the longest that fits
    EXPECT_EQ(bench.device->create_stream_channel(&format), S_OK);
}

// A client reads back the format the camera committed, not its own request:
// here the camera answers the probe with the nearest interval it supports.
TEST_P(device_stream, the_current_format_is_the_one_the_camera_committed)
{
    bench.responder->set_probe_interval_override(400000);
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    DShowDeviceServer_StreamFormat current{};
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    ASSERT_EQ(bench.device->get_stream_format_current(&current), S_OK);
    EXPECT_EQ(current.AverageTimePerFrame, 400000u);
    EXPECT_EQ(current.StreamFormatInfoId, format.StreamFormatInfoId);
    EXPECT_EQ(current.Dimension.cx, static_cast<LONG>(vga_width));
    EXPECT_EQ(current.Dimension.cy, static_cast<LONG>(vga_height));
    EXPECT_EQ(bench.device->close_stream_channel(), S_OK);
}

// A channel that cannot be made after the stream was prepared must not leave
// the prepared stream (and its pipe) behind: the next attempt would fail.
TEST_P(device_stream, a_channel_that_cannot_be_opened_releases_the_prepared_stream)
{
    const std::wstring blocked_name = L"Global\\" + win32::guid_to_wstring(bench.id) + L"_shared_mem_2";
    win32::unique_handle blocker(CreateEventW(nullptr, TRUE, FALSE, blocked_name.c_str()));
    ASSERT_TRUE(blocker);
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    EXPECT_EQ(bench.device->create_stream_channel(&format), insufficient_buffer);
    EXPECT_EQ(bench.device->camera()->endpoint_pipe(), nullptr);
    EXPECT_EQ(bench.device->channel().buffers(), 0u);
    DShowDeviceServer_StreamFormat current{};
    EXPECT_EQ(bench.device->get_stream_format_current(&current), no_format_selected);

    blocker.reset();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    EXPECT_TRUE(reader.take(5));
    EXPECT_TRUE(reader.finish(*bench.unit.source));
}

// A start that throws half-way (a failed allocation) and a pause that the
// camera refuses are errors the client hears of; neither leaves the device
// unusable.
TEST_P(device_stream, a_throw_during_the_start_and_a_refused_pause_are_reported_and_the_device_stays_usable)
{
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    bench.store->throw_on_int_read(camtovra::camera_type::pattern_fix_key);
    EXPECT_EQ(bench.device->create_stream_channel(&format), E_OUTOFMEMORY);
    EXPECT_EQ(bench.device->camera()->endpoint_pipe(), nullptr) << "the selected stream was released";
    bench.store->throw_on_int_read(L"");
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK) << "the device is free again";
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(reader.take(3));

    sim_camera::gencp_fault refuse;
    refuse.address = sim_camera::reg_acquisition_stop;
    refuse.status = 0x8006; // access denied
    refuse.count = 1;
    bench.unit.gencp->add_fault(refuse);
    EXPECT_EQ(bench.device->pause_stream(), E_ACCESSDENIED);
    EXPECT_EQ(bench.device->pause_stream(), S_OK) << "a pause the camera takes";
    EXPECT_TRUE(reader.finish(*bench.unit.source));
}

TEST_P(device_stream, releasing_the_device_while_streaming_ends_the_pipe_and_closes_its_files)
{
    const std::size_t files_before = bench.io.open_files();
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(reader.take(3));
    std::weak_ptr<nox_um::pipe> pipe = bench.device->camera()->endpoint_pipe();
    ASSERT_FALSE(pipe.expired());
    EXPECT_TRUE(reader.finish(*bench.unit.source));
    bench.device.reset();
    EXPECT_TRUE(pipe.expired());
    EXPECT_LT(bench.io.open_files(), files_before) << "the device file is closed too";
}

// The camera leaves the bus mid-stream: nothing hangs, no frame is ready any
// more, requests that reach the device fail as "device removed", and the
// device's release ends the pipe's thread.
TEST_P(device_stream, an_unplug_mid_stream_fails_device_requests_and_release_ends_the_pipe_thread)
{
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_EQ(bench.device->create_stream_channel(&format), S_OK);
    channel_reader reader(*bench.device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(bench.device->start_stream(), S_OK);
    ASSERT_TRUE(reader.take(5));
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), bench.device->camera()->endpoint_pipe()->thread_handle(),
                                GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0));
    win32::unique_handle pipe_thread(thread);

    bench.io.remove_device();
    // What was finished before may still be taken; then nothing comes. Data
    // that reached the pipe before the removal may still be on its way to the
    // channel: nothing is left to come once no frame is ready while every
    // read issued before the removal is back (reads issued since carry none).
    std::uint64_t id = 0;
    DShowDeviceServer_FrameCountInfo counts{};
    auto pipe = bench.device->camera()->endpoint_pipe();
    ASSERT_NE(pipe, nullptr);
    int taken_after_removal = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const unsigned reads = pipe->outstanding_reads();
        if (bench.device->get_ready_frame(&id, &counts) == S_OK) {
            bench.device->release_frame(id);
            ++taken_after_removal;
        } else if (reads == 0) {
            break;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "reads of the removed device never came back";
    }
    pipe.reset(); // the device's release must close the pipe's file
    EXPECT_LE(taken_after_removal, 8) << "only what was finished before";
    EXPECT_EQ(bench.device->get_ready_frame(&id, &counts), S_FALSE);
    std::vector<std::uint8_t> out(296);
    std::uint32_t returned = 0;
    EXPECT_EQ(bench.device->get_property(&cam::PROPSETID_KYV_CUSTOM_PROP, 102, nullptr, 0, out.data(), 296, &returned),
              HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(bench.device->pause_stream(), HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED))
        << "the camera cannot be told to stop";
    EXPECT_EQ(bench.device->close_stream_channel(), S_OK);
    bench.device.reset();
    EXPECT_EQ(WaitForSingleObject(pipe_thread.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(bench.io.open_files(), 0u);
}

// The frame path reports a stream that ended as a device error to the
// device's listener (the client handle's lost event). A handle that goes
// away after the next one took over leaves the next one's listener in place.
TEST_P(device_stream, a_stream_that_ends_as_a_device_error_reaches_the_listener_of_the_current_handle)
{
    int first_told = 0;
    int second_told = 0;
    const int first_owner = 0;
    const int second_owner = 0;
    bench.device->set_device_error_listener(&first_owner, [&] { ++first_told; });
    bench.device->stream_failed();
    EXPECT_EQ(first_told, 1);
    bench.device->set_device_error_listener(&second_owner, [&] { ++second_told; });
    bench.device->set_device_error_listener(&first_owner, nullptr); // the first handle's late end
    bench.device->stream_failed();
    EXPECT_EQ(first_told, 1);
    EXPECT_EQ(second_told, 1);
    bench.device->set_device_error_listener(&second_owner, nullptr);
    bench.device->stream_failed();
    EXPECT_EQ(second_told, 1);
}

INSTANTIATE_TEST_SUITE_P(modes, device_stream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("full_frame") : std::string("payload"); });

} // namespace
