#pragma once
// A camera, a frame sink and an endpoint queue around the frame path, for the
// native tests, the fuzzer and the benchmark. The sink records what reaches it
// and either gives each frame straight back (as a client that reads at once)
// or keeps it until the test returns it.

#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "device_impl/device_impl_tools/frame_reassembly.h"

namespace frame_path_test {

inline std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

struct fake_host : cam::frame_path_host {
    cam::frame_input_format format{};
    bool pts64 = false;
    bool drop_incomplete = true;
    bool force_clear = false;
    cam::frame_server_itf* sink = nullptr;
    int processed = 0;
    std::uint32_t last_image_size = 0; // buffer size of the last image processed

    cam::frame_input_format input_format() const override { return format; }
    bool pts_64bit() const override { return pts64; }
    bool drop_incomplete_frames() const override { return drop_incomplete; }
    bool force_clear_buffers() const override { return force_clear; }
    void process_frame(cam::frame_wrapper&, img::image_desc& image) override
    {
        ++processed;
        last_image_size = image.buffer_size;
    }
    void output_frame(cam::frame_wrapper&, const img::image_desc&) override {}
    cam::frame_server_itf* frame_sink() override { return sink; }
};

struct delivered_frame {
    std::uint32_t id = 0;
    std::uint64_t number = 0, fid = 0, pts = 0, first_us = 0, completed_us = 0;
    std::uint32_t flags = 0;
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> data; // the frame's valid bytes from its offset
};

struct fake_sink : cam::frame_server_itf {
    cam::frame_reassembly* path = nullptr;
    bool give_back_at_once = true;
    bool record = true;
    std::vector<delivered_frame> frames;
    std::vector<cam::frame_wrapper*> held;
    cam::frame_counts last{};
    int updates = 0;
    std::uint64_t delivered = 0;

    void update_frame_counts(const cam::frame_counts& counts) override
    {
        last = counts;
        ++updates;
    }
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override
    {
        last = counts;
        ++delivered;
        if (record) {
            delivered_frame d;
            const std::uint8_t* h = frame.buffer;
            d.id = frame.id;
            d.number = load_le(h + 20, 8);
            d.fid = load_le(h + 28, 8);
            d.pts = load_le(h + 36, 8);
            d.first_us = load_le(h + 44, 8);
            d.completed_us = load_le(h + 52, 8);
            d.flags = static_cast<std::uint32_t>(load_le(h + 76, 4));
            d.offset = frame.offset;
            d.data.assign(frame.data() + frame.offset, frame.data() + frame.offset + frame.valid_data_size_);
            frames.push_back(std::move(d));
        }
        if (give_back_at_once) {
            path->return_frame(&frame); // as the channel does, from inside the delivery
        } else {
            held.push_back(&frame);
        }
        return true;
    }
};

struct fake_queue : cam::frame_request_queue {
    std::vector<cam::frame_wrapper*> queued; // in order, still with the endpoint
    bool refuse = false;
    int refused = 0;

    std::error_code queue_request(cam::frame_wrapper* request) override
    {
        if (refuse) {
            ++refused;
            return std::make_error_code(std::errc::operation_canceled);
        }
        queued.push_back(request);
        return {};
    }
    cam::frame_wrapper* take()
    {
        if (queued.empty()) {
            return nullptr;
        }
        cam::frame_wrapper* first = queued.front();
        queued.erase(queued.begin());
        return first;
    }
};

// A UVC payload: header of `header_length` bytes (PTS at 2 when asked), then data.
inline std::vector<std::uint8_t> payload(std::uint8_t header_length, std::uint8_t flags, std::uint64_t pts,
                                         const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> bytes(header_length, 0);
    if (header_length >= 1) {
        bytes[0] = header_length;
    }
    if (header_length >= 2) {
        bytes[1] = flags;
    }
    for (int i = 0; i < 8 && 2 + i < header_length; ++i) {
        bytes[2 + i] = static_cast<std::uint8_t>(pts >> (8 * i));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// Hands `bytes` to the path as one read into the transfer buffer `transfer`.
inline void feed(cam::frame_reassembly& path, cam::frame_wrapper& transfer, const std::vector<std::uint8_t>& bytes,
                 std::int32_t status = cam::frame_reassembly::status_read)
{
    const std::size_t n = std::min<std::size_t>(bytes.size(), transfer.capacity);
    if (n != 0) {
        std::memcpy(transfer.data(), bytes.data(), n);
    }
    path.on_completion(&transfer, bytes.size(), status);
}

} // namespace frame_path_test
