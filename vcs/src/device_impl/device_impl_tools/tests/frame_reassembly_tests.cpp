// The frame path without an endpoint: payloads and whole frames are handed to
// it as the pipe's completions would, frames come from and go to a fake sink.
#include "device_impl/device_impl_tools/frame_reassembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>

#include "fake_frame_path.h"

namespace {

using cam::frame_reassembly;
using cam::frame_transfer_mode;
using namespace frame_path_test;

constexpr std::uint8_t fid0 = 0x00, fid1 = 0x01, eof = 0x02, pts = 0x04, err = 0x40;

std::vector<std::uint8_t> ramp(std::size_t n, std::uint8_t from)
{
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), from);
    return bytes;
}

// A 16x4 Y800 image (64 bytes) into frames of `capacity` bytes.
struct path_fixture : ::testing::Test {
    fake_host host;
    fake_sink sink;
    fake_queue queue;
    std::unique_ptr<frame_reassembly> path;
    std::vector<std::unique_ptr<cam::frame_wrapper>> frames;
    std::unique_ptr<cam::frame_wrapper> transfer = cam::make_frame_buffer(256);

    void make(frame_transfer_mode mode, std::size_t count = 2, std::uint64_t capacity = 64)
    {
        host.format = {img::fourcc("Y800"), 16, 4, 16, 64, 0};
        host.sink = &sink;
        path = std::make_unique<frame_reassembly>(host, queue, mode);
        sink.path = path.get();
        for (std::size_t i = 0; i < count; ++i) {
            frames.push_back(cam::make_frame_buffer(capacity));
            path->return_frame(frames.back().get());
        }
        path->reset_stream_state();
    }
    void send(std::uint8_t flags, std::uint64_t stamp, const std::vector<std::uint8_t>& data)
    {
        feed(*path, *transfer, payload(12, flags | pts, stamp, data));
    }
};

TEST_F(path_fixture, payloads_make_frames_with_number_identifier_time_stamp_and_times)
{
    make(frame_transfer_mode::payload);
    // The first payload after the start keeps the frame number.
    send(fid0, 100, ramp(32, 0));
    send(fid0 | eof, 101, ramp(32, 32));
    send(fid1, 200, ramp(32, 7));
    send(fid1 | eof, 201, ramp(32, 39));
    ASSERT_EQ(sink.frames.size(), 2u);
    const auto& first = sink.frames[0];
    EXPECT_EQ(first.number, 0u);
    EXPECT_EQ(first.fid, 0u);
    EXPECT_EQ(first.pts, 101u); // the payload that completed it
    EXPECT_EQ(first.flags, 0u);
    EXPECT_NE(first.first_us, 0u);
    EXPECT_LE(first.first_us, first.completed_us);
    EXPECT_EQ(first.data, ramp(64, 0));
    EXPECT_EQ(sink.frames[1].number, 1u);
    EXPECT_EQ(sink.frames[1].fid, 1u);
    EXPECT_EQ(sink.frames[1].data, ramp(64, 7));
    EXPECT_EQ(sink.last.frames_delivered, 2u);
    EXPECT_EQ(path->bytes_copied(), 128u); // one copy of every frame byte
    EXPECT_EQ(path->free_frames(), 2u);    // both came back through return_frame
    EXPECT_EQ(queue.queued.size(), 4u);    // the transfer buffer went back after every read
}

TEST_F(path_fixture, a_payload_beyond_the_frame_capacity_fills_it_and_its_excess_is_lost)
{
    make(frame_transfer_mode::payload);
    send(fid0, 1, ramp(40, 0));
    send(fid0, 2, ramp(40, 40)); // 16 bytes fit; the frame completes as full
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].data, ramp(64, 0));
    EXPECT_EQ(sink.frames[0].flags, 0u);
    EXPECT_EQ(path->bytes_copied(), 64u);
}

TEST_F(path_fixture, an_identifier_toggle_without_end_of_frame_ends_the_frame_incomplete)
{
    struct row {
        bool drop_incomplete;
        std::uint64_t capacity;
        std::size_t bytes_before_toggle;
    };
    // With room beyond the image, even a frame that got all its bytes is
    // judged by its missing end-of-frame bit.
    for (const row r : {row{true, 64, 32}, row{false, 64, 32}, row{false, 128, 64}}) {
        SCOPED_TRACE(testing::Message() << r.drop_incomplete << " " << r.capacity << " " << r.bytes_before_toggle);
        frames.clear();
        sink = fake_sink{};
        host.drop_incomplete = r.drop_incomplete;
        make(frame_transfer_mode::payload, 2, r.capacity);
        send(fid0, 111, ramp(r.bytes_before_toggle, 0));
        send(fid1, 222, ramp(32, 0));
        EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
        EXPECT_GE(sink.updates, 1);
        if (r.drop_incomplete) {
            EXPECT_TRUE(sink.frames.empty());
            EXPECT_EQ(path->free_frames(), 1u); // back on the free list; the other holds the new frame
        } else {
            ASSERT_EQ(sink.frames.size(), 1u);
            EXPECT_EQ(sink.frames[0].flags & 1u, 1u);
            EXPECT_EQ(sink.frames[0].fid, 0u);   // its own identifier
            EXPECT_EQ(sink.frames[0].pts, 111u); // its own first payload's time stamp
            EXPECT_EQ(sink.frames[0].number, 0u);
        }
        send(fid1 | eof, 223, ramp(32, 32));
        ASSERT_FALSE(sink.frames.empty());
        EXPECT_EQ(sink.frames.back().number, 1u);
        EXPECT_EQ(sink.frames.back().flags, 0u);
    }
}

TEST_F(path_fixture, short_and_unended_frames_count_as_packet_loss)
{
    make(frame_transfer_mode::payload);
    send(fid0 | eof, 5, ramp(32, 0)); // ended but short
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
    EXPECT_EQ(sink.last.frames_delivered, 0u);
    EXPECT_EQ(path->free_frames(), 2u);
}

TEST_F(path_fixture, a_payload_the_camera_marks_bad_makes_its_frame_incomplete)
{
    // The frame comes in three payloads (24, 24 and 16 bytes); the error bit
    // sits on one of them. The next frame is judged on its own payloads.
    const std::uint8_t flags[3] = {fid0, fid0, fid0 | eof};
    const std::size_t from[3] = {0, 24, 48};
    const std::size_t length[3] = {24, 24, 16};
    for (const bool drop : {true, false}) {
        for (int bad = 0; bad < 3; ++bad) {
            SCOPED_TRACE(testing::Message() << "drop " << drop << ", bad payload " << bad);
            frames.clear();
            sink = fake_sink{};
            host.drop_incomplete = drop;
            make(frame_transfer_mode::payload);
            for (int i = 0; i < 3; ++i) {
                send(flags[i] | (i == bad ? err : 0), 10 + i, ramp(length[i], static_cast<std::uint8_t>(from[i])));
            }
            EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
            if (drop) {
                EXPECT_TRUE(sink.frames.empty());
                EXPECT_EQ(path->free_frames(), 2u);
            } else {
                ASSERT_EQ(sink.frames.size(), 1u);
                EXPECT_EQ(sink.frames[0].flags, 1u);
                EXPECT_EQ(sink.frames[0].data, ramp(64, 0));
            }
            send(fid1 | eof, 20, ramp(64, 5));
            ASSERT_FALSE(sink.frames.empty());
            EXPECT_EQ(sink.frames.back().flags, 0u);
            EXPECT_EQ(sink.frames.back().number, 1u);
            EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
            EXPECT_EQ(sink.last.frames_delivered, drop ? 1u : 2u);
        }
    }
    // A marked frame that also lacks its end-of-frame is one loss, not two.
    frames.clear();
    sink = fake_sink{};
    host.drop_incomplete = true;
    make(frame_transfer_mode::payload);
    send(fid0 | err, 1, ramp(32, 0));
    send(fid1 | eof, 2, ramp(64, 0));
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
    EXPECT_EQ(sink.frames.size(), 1u);
}

TEST_F(path_fixture, a_whole_frame_the_camera_marks_bad_is_incomplete)
{
    make(frame_transfer_mode::full_frame, 2, 64 + 12);
    cam::frame_wrapper* read = queue.take();
    const auto bytes = payload(12, fid0 | eof | pts | err, 9, ramp(64, 0));
    std::memcpy(read->data(), bytes.data(), bytes.size());
    path->on_completion(read, bytes.size(), frame_reassembly::status_read);
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(queue.queued.size(), 2u); // dropped and queued again
}

// A 16x4 MJPEG stream: its buffer_length (three bytes a pixel) says nothing
// of how long a frame is.
TEST_F(path_fixture, a_compressed_frame_is_complete_when_its_end_of_frame_comes_with_data)
{
    make(frame_transfer_mode::payload, 2, 256);
    host.format = {img::fourcc("MJPG"), 16, 4, 48, 192, 0, true};
    send(fid0, 1, ramp(30, 0));
    send(fid0 | eof, 2, ramp(20, 30));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].data, ramp(50, 0));
    EXPECT_EQ(sink.frames[0].flags, 0u);
    EXPECT_EQ(host.last_image_size, 50u); // the bytes received
    send(fid1 | eof, 3, ramp(1, 9));       // one byte is a frame too
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1].data, ramp(1, 9));
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 0u);

    // An end-of-frame with no data, and a frame cut short by a toggle.
    send(fid0 | eof, 4, {});
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
    send(fid1, 5, ramp(10, 0));
    send(fid0 | eof, 6, ramp(10, 0));
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 2u);
    ASSERT_EQ(sink.frames.size(), 3u);

    // A frame that outgrows its buffer is cut; its tail stays with it and
    // does not pass for a frame of its own.
    send(fid1, 7, ramp(200, 0));
    send(fid1, 8, ramp(100, 0));
    send(fid1 | eof, 9, ramp(10, 0));
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 3u);
    EXPECT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(path->free_frames(), 2u);
    // One that fills it exactly is whole.
    send(fid0, 10, ramp(200, 0));
    send(fid0, 11, ramp(56, 200));
    send(fid0 | eof, 12, {});
    ASSERT_EQ(sink.frames.size(), 4u);
    EXPECT_EQ(sink.frames[3].data, ramp(256, 0));
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 3u);

    // Whole-frame reads: the bytes after the header.
    frames.clear();
    sink = fake_sink{};
    queue = fake_queue{};
    make(frame_transfer_mode::full_frame, 1, 256 + 12);
    host.format = {img::fourcc("MJPG"), 16, 4, 48, 192, 0, true};
    cam::frame_wrapper* read = queue.take();
    const auto bytes = payload(12, fid0 | eof | pts, 3, ramp(50, 1));
    std::memcpy(read->data(), bytes.data(), bytes.size());
    path->on_completion(read, bytes.size(), frame_reassembly::status_read);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].data, ramp(50, 1));
    EXPECT_EQ(host.last_image_size, 50u);
}

TEST_F(path_fixture, payloads_without_a_free_frame_are_counted_as_starved)
{
    make(frame_transfer_mode::payload, 0);
    send(fid0, 1, ramp(32, 0));
    send(fid0 | eof, 2, ramp(32, 0));
    EXPECT_EQ(sink.last.frames_dropped_due_to_input_buffer_starvation, 2u);
    EXPECT_EQ(sink.updates, 2);
    EXPECT_EQ(path->bytes_copied(), 0u);
    EXPECT_EQ(path->frame_number(), 1u);
}

TEST_F(path_fixture, a_frame_that_started_without_a_free_frame_is_dropped_whole_as_starved_not_as_packet_loss)
{
    // The client gives its frame back in the middle of the starved frame, at
    // its last payload, and just before the next frame: that one arrives whole.
    for (const int returned_after : {1, 2, 3}) {
        SCOPED_TRACE(returned_after);
        frames.clear();
        sink = fake_sink{};
        sink.give_back_at_once = false;
        make(frame_transfer_mode::payload, 1);
        send(fid0, 1, ramp(32, 0));
        send(fid0 | eof, 2, ramp(32, 32)); // the client keeps the only frame
        ASSERT_EQ(sink.held.size(), 1u);
        const std::vector<std::pair<std::uint8_t, std::uint8_t>> starved{{fid1, 0}, {fid1, 32}, {fid1 | eof, 64}};
        for (int i = 0; i < 3; ++i) {
            if (i == returned_after) {
                ASSERT_TRUE(path->return_frame(sink.held.front()));
                sink.held.clear();
            }
            send(starved[i].first, 3, ramp(i == 2 ? 0 : 32, starved[i].second));
        }
        if (!sink.held.empty()) {
            ASSERT_TRUE(path->return_frame(sink.held.front()));
            sink.held.clear();
        }
        EXPECT_EQ(sink.last.frames_dropped_due_to_input_buffer_starvation, 3u);
        EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 0u);
        EXPECT_EQ(sink.frames.size(), 1u);
        EXPECT_EQ(path->free_frames(), 1u);
        // The frame after it has a buffer from its start.
        send(fid0, 4, ramp(32, 9));
        send(fid0 | eof, 5, ramp(32, 41));
        ASSERT_EQ(sink.frames.size(), 2u);
        EXPECT_EQ(sink.frames[1].number, 2u);
        EXPECT_EQ(sink.frames[1].data, ramp(64, 9));
        EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 0u);
    }
}

TEST_F(path_fixture, a_starved_frame_ends_at_an_identifier_toggle_and_the_next_frame_is_received)
{
    make(frame_transfer_mode::payload, 1);
    sink.give_back_at_once = false;
    send(fid0 | eof, 1, ramp(64, 0));
    ASSERT_EQ(sink.held.size(), 1u);
    send(fid1, 2, ramp(32, 0)); // starved; its end-of-frame payload never comes
    ASSERT_TRUE(path->return_frame(sink.held.front()));
    sink.held.clear();
    send(fid0, 3, ramp(32, 5));
    send(fid0 | eof, 4, ramp(32, 37));
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1].data, ramp(64, 5));
    EXPECT_EQ(sink.frames[1].number, 2u);
    EXPECT_EQ(sink.last.frames_dropped_due_to_input_buffer_starvation, 1u);
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 0u);
}

// A sink whose delivery waits at a gate, and the order in which the delivery
// and a pause returned.
struct gated_sink : fake_sink {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;           // guarded by lock
    bool open = false;              // guarded by lock
    std::vector<std::string> order; // guarded by lock

    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override
    {
        {
            std::unique_lock guard(lock);
            entered = true;
            changed.notify_all();
            changed.wait(guard, [&] { return open; });
        }
        const bool queued = fake_sink::deliver_frame(frame, counts);
        record("delivered");
        return queued;
    }
    void record(std::string event)
    {
        std::lock_guard guard(lock);
        order.push_back(std::move(event));
        changed.notify_all();
    }
};

TEST_F(path_fixture, a_pause_returns_once_the_delivery_under_way_is_done_and_nothing_reaches_the_sink_until_a_start)
{
    make(frame_transfer_mode::payload);
    gated_sink gate;
    gate.path = path.get();
    host.sink = &gate;
    std::thread completion([&] { send(fid0 | eof, 1, ramp(64, 0)); });
    {
        std::unique_lock guard(gate.lock);
        gate.changed.wait(guard, [&] { return gate.entered; });
    }
    std::thread pauser([&] {
        path->pause();
        gate.record("paused");
    });
    {
        // The pause gets a chance to return early, which it must not take.
        std::unique_lock guard(gate.lock);
        gate.changed.wait_for(guard, std::chrono::milliseconds(100), [&] { return !gate.order.empty(); });
        gate.open = true;
        gate.changed.notify_all();
    }
    pauser.join();
    completion.join();
    EXPECT_EQ(gate.order, (std::vector<std::string>{"delivered", "paused"}));
    EXPECT_TRUE(path->stopping());

    send(fid1 | eof, 2, ramp(64, 1)); // while paused: only the transfer buffer goes back
    EXPECT_EQ(gate.frames.size(), 1u);
    path->reset_stream_state();
    EXPECT_FALSE(path->stopping());
    send(fid0 | eof, 3, ramp(64, 2));
    ASSERT_EQ(gate.frames.size(), 2u);
    EXPECT_EQ(gate.frames[1].number, 0u);
    EXPECT_EQ(gate.frames[1].data, ramp(64, 2));
}

TEST_F(path_fixture, payloads_with_a_bad_header_are_dropped_and_never_become_image_data)
{
    make(frame_transfer_mode::payload);
    for (const auto& bad : {payload(0, 0, 0, ramp(32, 0)), std::vector<std::uint8_t>{1, eof, 9, 9, 9},
                            std::vector<std::uint8_t>{40, eof, 9, 9}, std::vector<std::uint8_t>{}}) {
        feed(*path, *transfer, bad);
    }
    host.pts64 = true;
    feed(*path, *transfer, payload(6, fid0 | eof | pts, 7, ramp(64, 0))); // PTS needs 10 bytes here
    EXPECT_EQ(path->bytes_copied(), 0u);
    EXPECT_TRUE(sink.frames.empty());
    feed(*path, *transfer, payload(12, fid0 | eof | pts, 0x0102030405060708ull, ramp(64, 0)));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].pts, 0x0102030405060708ull);
}

TEST_F(path_fixture, a_returned_frame_is_reset_and_zeroed_when_buffers_are_force_cleared)
{
    host.force_clear = true;
    make(frame_transfer_mode::payload, 1);
    sink.give_back_at_once = false;
    send(fid0 | eof, 3, ramp(64, 1));
    ASSERT_EQ(sink.held.size(), 1u);
    cam::frame_wrapper* frame = sink.held.front();
    ASSERT_TRUE(path->return_frame(frame));
    EXPECT_EQ(frame->valid_data_size_, 0u);
    EXPECT_EQ(load_le(frame->buffer + 20, 8), 0u);
    for (std::uint64_t i = 0; i < frame->capacity; ++i) {
        ASSERT_EQ(frame->data()[i], 0) << i;
    }
    EXPECT_FALSE(path->return_frame(frame)); // already free: not listed twice
    EXPECT_FALSE(path->return_frame(nullptr));
    EXPECT_EQ(path->free_frames(), 1u);
}

TEST_F(path_fixture, full_frames_step_over_their_header_without_a_copy)
{
    make(frame_transfer_mode::full_frame, 2, 64 + 12);
    ASSERT_EQ(queue.queued.size(), 2u); // every returned frame is queued as a read
    cam::frame_wrapper* read = queue.take();
    const auto bytes = payload(12, fid1 | eof | pts, 77, ramp(64, 3));
    std::memcpy(read->data(), bytes.data(), bytes.size());
    path->on_completion(read, bytes.size(), frame_reassembly::status_read);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].offset, 12u);
    EXPECT_EQ(sink.frames[0].data, ramp(64, 3));
    EXPECT_EQ(sink.frames[0].pts, 77u);
    EXPECT_EQ(sink.frames[0].fid, 1u);
    EXPECT_EQ(path->bytes_copied(), 0u);
    EXPECT_EQ(path->frame_number(), 1u);
    EXPECT_EQ(queue.queued.size(), 2u); // given back by the sink, queued again

    // A bad header is packet loss and the frame goes back to the endpoint.
    read = queue.take();
    read->data()[0] = 1;
    path->on_completion(read, 40, frame_reassembly::status_read);
    EXPECT_EQ(sink.last.frames_dropped_due_to_packet_loss, 1u);
    EXPECT_EQ(queue.queued.size(), 2u);
    EXPECT_EQ(read->offset, 0u);
}

TEST_F(path_fixture, every_endpoint_outcome_keeps_the_frame_accounted_for)
{
    for (const std::int32_t status : {frame_reassembly::status_read, frame_reassembly::status_not_read,
                                      static_cast<std::int32_t>(0x800703E3) /* aborted */}) {
        SCOPED_TRACE(status);
        frames.clear();
        queue = fake_queue{};
        make(frame_transfer_mode::full_frame, 1, 76);
        cam::frame_wrapper* read = queue.take();
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(path->lent_requests(), 1u);
        path->on_completion(read, 0, status);
        // Read empty, not read, or failed: it is queued again.
        EXPECT_EQ(queue.queued.size(), 1u);
        EXPECT_EQ(path->lent_requests(), 1u);
        EXPECT_EQ(path->parked_requests(), 0u);
    }
}

TEST_F(path_fixture, reads_the_endpoint_kept_or_refused_at_a_stop_are_queued_again_at_the_next_start)
{
    make(frame_transfer_mode::full_frame, 4, 76);
    ASSERT_EQ(path->lent_requests(), 4u);
    // The endpoint stops: two reads finish and are refused on their requeue,
    // two were dropped by the endpoint without a word.
    path->set_stopping();
    queue.refuse = true;
    path->on_completion(queue.take(), 0, frame_reassembly::status_read);
    path->on_completion(queue.take(), 0, frame_reassembly::status_not_read);
    path->endpoint_stopped();
    EXPECT_EQ(path->lent_requests(), 0u);
    EXPECT_EQ(path->parked_requests(), 4u);
    // The sink gives nothing back during the pause; a returned frame is parked.
    queue.queued.clear();
    queue.refuse = false;
    path->reset_stream_state();
    path->queue_parked();
    EXPECT_EQ(queue.queued.size(), 4u);
    EXPECT_EQ(path->lent_requests(), 4u);
    EXPECT_EQ(path->parked_requests(), 0u);
    // A frame still queued is not queued a second time.
    EXPECT_FALSE(path->return_frame(queue.queued.front()));
    EXPECT_EQ(queue.queued.size(), 4u);
}

TEST_F(path_fixture, transfer_buffers_wait_parked_for_the_start_and_cycle_after_every_read)
{
    make(frame_transfer_mode::payload);
    path->prepare_transfer_buffers(5, 512);
    EXPECT_EQ(path->parked_requests(), 5u);
    EXPECT_TRUE(queue.queued.empty());
    path->queue_parked();
    ASSERT_EQ(queue.queued.size(), 5u);
    cam::frame_wrapper* buffer = queue.take();
    feed(*path, *buffer, payload(2, fid0 | eof, 0, ramp(64, 0)));
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(queue.queued.size(), 5u);
    path->set_stopping();
    path->endpoint_stopped();
    EXPECT_EQ(path->parked_requests(), 5u);
    path->release_stream();
    EXPECT_EQ(path->parked_requests(), 0u);
    EXPECT_EQ(path->free_frames(), 0u);
}

TEST_F(path_fixture, completions_while_stopping_only_give_buffers_back)
{
    make(frame_transfer_mode::payload);
    path->set_stopping();
    send(fid0 | eof, 1, ramp(64, 0));
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(path->bytes_copied(), 0u);
    EXPECT_EQ(queue.queued.size(), 1u);
    path->reset_stream_state();
    send(fid1 | eof, 1, ramp(64, 0));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].number, 0u);
}

} // namespace
