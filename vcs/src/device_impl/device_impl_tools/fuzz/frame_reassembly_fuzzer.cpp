// Feeds the frame path sequences of reads built from the input: payloads of
// any length and header, empty and failed reads, stops and starts, frames the
// client gives back late or twice. Frames and transfer buffers are
// exact-size allocations, so a write past a capacity shows up under ASan.
// After every step: each frame is in exactly one place, a delivered frame's
// offset and data lie within what was received and within its capacity, and
// a frame delivered as complete holds the image (uncompressed) or some data
// (compressed).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "../tests/fake_frame_path.h"

namespace {

using namespace frame_path_test;

[[noreturn]] void fail() { __builtin_trap(); }

struct owned_frame {
    std::unique_ptr<std::uint8_t[]> memory;
    cam::frame_wrapper record;
};

owned_frame make_exact(std::uint64_t capacity)
{
    owned_frame f;
    f.memory = std::make_unique<std::uint8_t[]>(cam::frame_header_size + capacity);
    f.record.id = cam::next_frame_id();
    f.record.size = cam::frame_header_size + capacity;
    f.record.header_size = cam::frame_header_size;
    f.record.capacity = capacity;
    f.record.buffer = f.memory.get();
    return f;
}

// Checks deliveries as they happen: the delivered bytes lie in the frame.
struct checking_sink : fake_sink {
    std::uint64_t last_received = 0; // bytes of the read that completed the frame (full-frame mode)
    bool full_frame = false;
    const cam::frame_input_format* format = nullptr;
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override
    {
        if (frame.offset + frame.valid_data_size_ > frame.capacity) {
            fail();
        }
        if (full_frame && frame.offset + frame.valid_data_size_ > last_received) {
            fail();
        }
        const bool flagged = (frame.buffer[cam::frame_header::flags] & cam::frame_header::flag_incomplete) != 0;
        if (!flagged && (format->compressed ? frame.valid_data_size_ == 0
                                            : frame.valid_data_size_ < format->buffer_length)) {
            fail();
        }
        for (cam::frame_wrapper* h : held) {
            if (h == &frame) {
                fail(); // delivered while the client holds it
            }
        }
        return fake_sink::deliver_frame(frame, counts);
    }
};

struct reader {
    const std::uint8_t* at;
    std::size_t left;
    std::uint8_t byte() { return left == 0 ? 0 : (--left, *at++); }
    std::size_t take(std::size_t n) { return n < left ? n : left; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    reader in{data, size};
    const std::uint8_t setup = in.byte();
    const bool full_frame = (setup & 1) != 0;
    const std::uint64_t capacity = 16 + (in.byte() % 200);
    const std::size_t frame_count = 1 + (setup >> 1) % 4;

    fake_host host;
    host.pts64 = (setup & 0x10) != 0;
    host.drop_incomplete = (setup & 0x20) != 0;
    host.force_clear = (setup & 0x40) != 0;
    host.format = {img::fourcc("Y800"), 8, 4, 8, static_cast<std::uint32_t>(in.byte() % 64), 0, (setup & 0x08) != 0};
    checking_sink sink;
    sink.record = false;
    sink.full_frame = full_frame;
    sink.format = &host.format;
    sink.give_back_at_once = (setup & 0x80) != 0;
    fake_queue queue;
    host.sink = &sink;
    cam::frame_reassembly path(host, queue,
                               full_frame ? cam::frame_transfer_mode::full_frame : cam::frame_transfer_mode::payload);
    sink.path = &path;

    std::vector<owned_frame> frames;
    frames.reserve(frame_count); // the path keeps pointers to the records
    for (std::size_t i = 0; i < frame_count; ++i) {
        frames.push_back(make_exact(capacity));
        path.return_frame(&frames.back().record);
    }
    owned_frame transfer = make_exact(64);
    path.reset_stream_state();

    auto check_places = [&] {
        const std::size_t held = sink.held.size();
        if (full_frame) {
            if (path.lent_requests() + path.parked_requests() + held != frame_count) {
                fail();
            }
            if (queue.queued.size() != path.lent_requests()) {
                fail();
            }
        } else {
            const std::size_t placed = path.free_frames() + held;
            if (placed != frame_count && placed + 1 != frame_count) { // one may be the current frame
                fail();
            }
        }
    };

    while (in.left != 0) {
        const std::uint8_t op = in.byte();
        switch (op % 6) {
        case 0:
        case 1: { // a read with data
            const std::size_t n = in.take(in.byte());
            cam::frame_wrapper* target = &transfer.record;
            if (full_frame) {
                target = queue.take();
                if (target == nullptr) {
                    break;
                }
            }
            const std::size_t room = static_cast<std::size_t>(target->capacity);
            std::memcpy(target->data(), in.at, n < room ? n : room);
            const std::uint64_t received = n < room ? n : room;
            sink.last_received = received;
            in.at += n;
            in.left -= n;
            path.on_completion(target, received, cam::frame_reassembly::status_read);
            break;
        }
        case 2: { // not read, or failed
            cam::frame_wrapper* target = full_frame ? queue.take() : &transfer.record;
            if (target != nullptr) {
                path.on_completion(target, 0, (op & 8) != 0 ? 2 : static_cast<std::int32_t>(0x800703E3));
            }
            break;
        }
        case 3: // the client gives a frame back, now and then one more time
            if (!sink.held.empty()) {
                cam::frame_wrapper* frame = sink.held.back();
                sink.held.pop_back();
                path.return_frame(frame);
                if ((op & 8) != 0) {
                    path.return_frame(frame);
                }
            }
            break;
        case 4: // a pause: the endpoint keeps what it holds, refuses requeues
            path.set_stopping();
            queue.refuse = true;
            if ((op & 8) != 0 && full_frame) {
                if (cam::frame_wrapper* target = queue.take()) {
                    path.on_completion(target, 0, 0);
                }
            }
            queue.queued.clear();
            path.endpoint_stopped();
            queue.refuse = false;
            path.reset_stream_state();
            path.queue_parked();
            break;
        default:
            host.drop_incomplete = !host.drop_incomplete;
            break;
        }
        if (!full_frame) {
            queue.queued.clear(); // the one transfer buffer is read again and again
        }
        check_places();
    }
    return 0;
}
