// The whole frame path over the simulated camera: the driver's endpoint pipe
// reads the camera's UVC payloads, the reassembly makes frames in the
// channel's mappings, and the test plays the client: it waits on the named
// semaphore, takes frames, checks header and image in its own view of the
// mapping, and gives them back.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device_impl/device_impl_tools/pipe_frame_stream.h"
#include "device_impl/shm_channel/shared_memory_channel.h"
#include "frame_accounting.h"
#include "sim_driver_io.h"
#include "sim_payload.h"

namespace {

using namespace std::chrono_literals;
using cam::frame_transfer_mode;
using sim_camera::payload_fault;

std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

struct test_camera final : cam::frame_path_host {
    cam::frame_input_format format{};
    bool drop_incomplete = true;
    bool force_clear = false;
    cam::frame_server_itf* sink = nullptr;

    cam::frame_input_format input_format() const override { return format; }
    bool pts_64bit() const override { return true; }
    bool drop_incomplete_frames() const override { return drop_incomplete; }
    bool force_clear_buffers() const override { return force_clear; }
    void process_frame(cam::frame_wrapper&, img::image_desc&) override {}
    void output_frame(cam::frame_wrapper&, const img::image_desc&) override {}
    cam::frame_server_itf* frame_sink() override { return sink; }
};

// A frame as the client read it from its own view.
struct client_frame {
    std::uint32_t id = 0;
    std::uint64_t number = 0, fid = 0, pts = 0, first_us = 0, completed_us = 0;
    std::uint32_t flags = 0, data_start = 0, valid = 0;
    bool image_ok = false;
    std::uint64_t image_frame = 0;
    std::size_t bad_index = 0;
};

class frame_path : public ::testing::Test {
protected:
    static constexpr std::uint32_t width = 128, height = 48;
    static constexpr std::uint32_t image = width * height;

    nox_um_test::sim_driver_io io;
    std::unique_ptr<nox_um::usb_device_handle> device;
    std::unique_ptr<sim_camera::payload_source> source;
    test_camera camera;
    std::unique_ptr<win32::shared_memory_channel> channel;
    std::unique_ptr<cam::pipe_frame_stream> stream;
    win32::unique_handle semaphore;
    std::map<std::uint32_t, std::pair<win32::unique_handle, const std::uint8_t*>> views; // id -> client view

    void SetUp() override
    {
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = nox_um::usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
    }
    void TearDown() override
    {
        if (stream) {
            stream->stop();
            stream->frames().release_stream();
        }
        stream.reset();
        for (auto& [id, view] : views) {
            UnmapViewOfFile(view.second);
        }
        channel.reset();
        device.reset();
    }

    // Camera, pipe, path and channel, every buffer lent to the path; not started.
    void build(frame_transfer_mode mode, std::uint32_t transfer_size = 1024)
    {
        sim_camera::payload_stream_config config;
        config.width = width;
        config.height = height;
        config.transfer_size = mode == frame_transfer_mode::full_frame ? 0 : transfer_size;
        source = std::make_unique<sim_camera::payload_source>(config);
        io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
        io.camera.set_payload_generator(source->generator());
        camera.format = {img::fourcc("Y800"), width, height, width, image, 0};

        auto pipe = nox_um::open_endpoint_pipe(*device, 0x81);
        ASSERT_NE(pipe, nullptr);
        channel = std::make_unique<win32::shared_memory_channel>(
            win32::make_unique_global_name(L"frame_path").substr(7));
        camera.sink = channel.get();
        stream = std::make_unique<cam::pipe_frame_stream>(pipe, camera, mode);
        if (mode == frame_transfer_mode::payload) {
            stream->frames().prepare_transfer_buffers(5, transfer_size);
        }
        // Room beyond the image, as the camera sets it: a frame that is not
        // ended is never mistaken for a full one.
        ASSERT_FALSE(channel->open(image + 512, [this](cam::frame_wrapper* b) { stream->frames().return_frame(b); }));
        channel->hand_all_buffers_out();
        semaphore.reset(OpenSemaphoreW(SYNCHRONIZE, FALSE, channel->semaphore_name().c_str()));
        ASSERT_TRUE(semaphore);
        for (std::size_t i = 0; i < win32::shared_memory_channel::buffer_count; ++i) {
            const auto [name, id] = channel->read(i);
            win32::unique_handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
            ASSERT_TRUE(mapping);
            auto* view = static_cast<const std::uint8_t*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
            ASSERT_NE(view, nullptr);
            views[id] = {std::move(mapping), view};
        }
    }

    // Waits for the next frame as a client does; false when none came in time.
    bool take(client_frame& frame, cam::frame_counts* counts = nullptr, std::chrono::milliseconds timeout = 10s)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (WaitForSingleObject(semaphore.get(), 200) != WAIT_OBJECT_0) {
                continue;
            }
            std::uint32_t id = 0;
            cam::frame_counts seen{};
            if (channel->take(&id, &seen) != S_OK) {
                continue; // a counter update
            }
            if (counts != nullptr) {
                *counts = seen;
            }
            const auto found = views.find(id);
            if (found == views.end()) {
                ADD_FAILURE() << "unknown id " << id;
                return false;
            }
            const std::uint8_t* h = found->second.second;
            frame.id = id;
            frame.data_start = static_cast<std::uint32_t>(load_le(h + 8, 4));
            frame.valid = static_cast<std::uint32_t>(load_le(h + 16, 4));
            frame.number = load_le(h + 20, 8);
            frame.fid = load_le(h + 28, 8);
            frame.pts = load_le(h + 36, 8);
            frame.first_us = load_le(h + 44, 8);
            frame.completed_us = load_le(h + 52, 8);
            frame.flags = static_cast<std::uint32_t>(load_le(h + 76, 4));
            const std::uint32_t length = std::min(frame.valid, image);
            frame.image_ok = frame.valid == image &&
                             sim_camera::payload_source::check_image({h + frame.data_start, length}, width,
                                                                     &frame.image_frame, &frame.bad_index);
            return true;
        }
        return false;
    }
    cam::frame_counts counts_now()
    {
        cam::frame_counts counts{};
        channel->take(nullptr, &counts); // nothing ready while the client holds back
        return counts;
    }
};

TEST_F(frame_path, payload_mode_frames_reach_the_client_with_their_header_and_every_byte)
{
    build(frame_transfer_mode::payload);
    ASSERT_FALSE(stream->start());
    std::uint64_t previous_number = 0;
    for (int i = 0; i < 20; ++i) {
        client_frame f;
        ASSERT_TRUE(take(f)) << i;
        EXPECT_TRUE(f.image_ok) << "frame " << f.number << " byte " << f.bad_index;
        EXPECT_EQ(f.image_frame, f.number); // the first payload after the start kept number 0
        EXPECT_EQ(f.fid, f.number & 1);
        EXPECT_EQ(f.pts, sim_camera::payload_source::pts_of(f.number));
        EXPECT_NE(f.first_us, 0u);
        EXPECT_LE(f.first_us, f.completed_us);
        EXPECT_EQ(f.flags, 0u);
        EXPECT_EQ(f.data_start, 4096u);
        if (i > 0) {
            EXPECT_GT(f.number, previous_number);
        }
        previous_number = f.number;
        EXPECT_EQ(channel->give_back(f.id), S_OK);
    }
    stream->stop();
    EXPECT_EQ(stream->frames().counts().frames_dropped_due_to_packet_loss, 0u);
    EXPECT_EQ(stream->frames().lent_requests(), 0u);
    EXPECT_EQ(stream->frames().parked_requests(), 5u); // every transfer buffer waits for the next start
}

TEST_F(frame_path, full_frame_mode_steps_over_the_header_without_a_copy_and_survives_pauses)
{
    build(frame_transfer_mode::full_frame);
    for (int run = 0; run < 3; ++run) {
        ASSERT_FALSE(stream->start()) << run;
        for (int i = 0; i < 5; ++i) {
            client_frame f;
            ASSERT_TRUE(take(f)) << "run " << run << " frame " << i; // a stalled restart never gets here
            EXPECT_EQ(f.data_start, 4096u + sim_camera::payload_source::header_length);
            EXPECT_EQ(f.valid, image);
            EXPECT_TRUE(f.image_ok) << f.bad_index;
            EXPECT_EQ(f.pts, sim_camera::payload_source::pts_of(f.image_frame));
            EXPECT_EQ(channel->give_back(f.id), S_OK);
        }
        stream->stop();
        // Every frame is with the client, in the ready queue, or parked.
        std::uint32_t ready = 0;
        std::uint32_t id = 0;
        while (channel->take(&id, nullptr) == S_OK) {
            ++ready;
            channel->give_back(id); // parked again: the pipe is stopped
        }
        EXPECT_EQ(stream->frames().lent_requests(), 0u);
        EXPECT_EQ(stream->frames().parked_requests(), 4u);
    }
    EXPECT_EQ(stream->frames().bytes_copied(), 0u);
}

TEST_F(frame_path, payload_faults_cost_one_frame_each_and_the_stream_goes_on)
{
    struct row {
        payload_fault fault;
        std::uint64_t lost_frames;
    };
    const row rows[] = {
        {payload_fault::header_length_0, 1}, {payload_fault::header_length_1, 1},
        {payload_fault::header_length_beyond, 1}, {payload_fault::pts_in_6_bytes, 1},
        {payload_fault::no_end_of_frame, 1}, {payload_fault::truncated, 1},
        {payload_fault::lost, 1}, {payload_fault::zero_bytes, 0},
    };
    build(frame_transfer_mode::payload);
    ASSERT_FALSE(stream->start());
    std::uint64_t expected_loss = 0;
    // The frames missed are exactly those the faults cost and those the
    // client was too slow for.
    sim_camera::frame_accounting accounting;
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        source->inject(r.fault);
        expected_loss += r.lost_frames;
        accounting.allow_packet_loss(r.lost_frames);
        // A few frames later the fault has passed; every delivered frame is whole.
        cam::frame_counts counts{};
        for (int i = 0; i < 4; ++i) {
            client_frame f;
            ASSERT_TRUE(take(f, &counts));
            EXPECT_TRUE(f.image_ok) << "byte " << f.bad_index;
            EXPECT_EQ(f.flags, 0u);
            EXPECT_EQ(accounting.take(f.image_frame, sim_camera::frame_counters::of(counts)), "");
            channel->give_back(f.id);
        }
        EXPECT_EQ(counts.frames_dropped_due_to_packet_loss, expected_loss);
    }
    // No take checks what the last ones counted: the camera must have sent
    // every frame the counters say was sent.
    stream->stop();
    EXPECT_EQ(accounting.finish(sim_camera::frame_counters::of(channel->counts()), source->frames_started()), "");
}

TEST_F(frame_path, incomplete_frames_are_delivered_flagged_when_not_dropped)
{
    camera.drop_incomplete = false;
    build(frame_transfer_mode::payload);
    ASSERT_FALSE(stream->start());
    source->inject(payload_fault::truncated);
    bool flagged = false;
    for (int i = 0; i < 6 && !flagged; ++i) {
        client_frame f;
        ASSERT_TRUE(take(f));
        if ((f.flags & 1) != 0) {
            flagged = true;
            EXPECT_LT(f.valid, image);
        } else {
            EXPECT_TRUE(f.image_ok);
        }
        channel->give_back(f.id);
    }
    EXPECT_TRUE(flagged);
}

TEST_F(frame_path, a_client_that_holds_back_causes_counted_drops_and_no_stall)
{
    build(frame_transfer_mode::payload);
    ASSERT_FALSE(stream->start());
    auto wait_for = [&](auto condition) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!condition(channel->counts()) && std::chrono::steady_clock::now() < until) {
            WaitForSingleObject(semaphore.get(), 50);
        }
        return condition(channel->counts());
    };
    // The client keeps one frame and takes no more: with two frames waiting,
    // every new frame goes straight back to the producer and is counted.
    client_frame held[2];
    ASSERT_TRUE(take(held[0]));
    EXPECT_TRUE(wait_for([](const cam::frame_counts& c) { return c.frames_dropped_due_to_dshow_buffer_starvation >= 3; }));
    // It keeps a second one: the producer runs out of frames and counts the
    // payloads it has nowhere to put.
    ASSERT_TRUE(take(held[1]));
    EXPECT_TRUE(wait_for([](const cam::frame_counts& c) { return c.frames_dropped_due_to_input_buffer_starvation >= 1; }));
    // Once it takes again, fresh frames flow.
    channel->give_back(held[0].id);
    channel->give_back(held[1].id);
    std::uint64_t last = 0;
    for (int i = 0; i < 8; ++i) {
        client_frame f;
        ASSERT_TRUE(take(f)) << i;
        EXPECT_TRUE(f.image_ok);
        last = f.number;
        channel->give_back(f.id);
    }
    EXPECT_GT(last, held[1].number + 2);
}

TEST_F(frame_path, force_clear_zeroes_a_returned_frame)
{
    camera.force_clear = true;
    build(frame_transfer_mode::payload);
    ASSERT_FALSE(stream->start());
    client_frame f;
    ASSERT_TRUE(take(f));
    stream->stop(); // nothing refills the frame once it is back
    channel->give_back(f.id);
    const std::uint8_t* view = views[f.id].second;
    EXPECT_EQ(load_le(view + 20, 8), 0u);
    for (std::uint32_t i = 0; i < image + 512; ++i) {
        ASSERT_EQ(view[4096 + i], 0) << i;
    }
}

TEST_F(frame_path, failed_empty_and_dropped_reads_keep_every_buffer_accounted_for)
{
    build(frame_transfer_mode::full_frame);
    io.camera.babble_transfers = 3; // reads that fail with an error status
    source->inject(payload_fault::zero_bytes);
    ASSERT_FALSE(stream->start());
    for (int i = 0; i < 6; ++i) {
        client_frame f;
        ASSERT_TRUE(take(f)) << i;
        EXPECT_TRUE(f.image_ok);
        channel->give_back(f.id);
    }
    // Reads held by the camera when the pipe stops are dropped by the pipe
    // without a callback; they come back parked and are queued at the next start.
    io.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_TRUE(io.camera.wait_for_held(1));
    stream->stop();
    std::uint32_t id = 0;
    while (channel->take(&id, nullptr) == S_OK) {
        channel->give_back(id);
    }
    EXPECT_EQ(stream->frames().parked_requests() + stream->frames().lent_requests(), 4u);
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    ASSERT_FALSE(stream->start());
    client_frame f;
    ASSERT_TRUE(take(f));
    EXPECT_TRUE(f.image_ok);
    EXPECT_GE(channel->counts().frames_dropped_due_to_packet_loss, 1u); // the empty read
}

} // namespace
