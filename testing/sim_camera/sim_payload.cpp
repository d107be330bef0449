#include "sim_payload.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace sim_camera {

namespace {
constexpr std::uint8_t bit_fid = 0x01, bit_eof = 0x02, bit_pts = 0x04;
}

payload_source::payload_source(payload_stream_config config) : config_(config) {}

std::uint8_t payload_source::image_byte(std::uint64_t frame, std::uint32_t width, std::size_t index) noexcept
{
    if (index < 8) {
        return static_cast<std::uint8_t>(frame >> (8 * index));
    }
    const std::size_t x = index % width;
    const std::size_t y = index / width;
    return static_cast<std::uint8_t>((x + y + frame) & 0xFF);
}

bool payload_source::check_image(std::span<const std::uint8_t> image, std::uint32_t width, std::uint64_t* frame,
                                 std::size_t* bad_index) noexcept
{
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < 8 && i < image.size(); ++i) {
        number |= std::uint64_t{image[i]} << (8 * i);
    }
    if (frame != nullptr) {
        *frame = number;
    }
    for (std::size_t i = 8; i < image.size(); ++i) {
        if (image[i] != image_byte(number, width, i)) {
            if (bad_index != nullptr) {
                *bad_index = i;
            }
            return false;
        }
    }
    return image.size() >= 8;
}

payload_generator payload_source::generator()
{
    return [this](std::uint8_t, std::span<std::uint8_t> buffer, std::uint64_t) { return fill(buffer); };
}

void payload_source::inject(payload_fault fault)
{
    std::lock_guard guard(lock_);
    faults_.push_back(fault);
}

void payload_source::set_chunk_mode(bool on)
{
    std::lock_guard guard(lock_);
    chunk_mode_ = on;
}

bool payload_source::chunk_mode() const
{
    std::lock_guard guard(lock_);
    return chunk_mode_;
}

std::uint64_t payload_source::next_block_id() const
{
    std::lock_guard guard(lock_);
    return block_id_;
}

std::uint64_t payload_source::frames_started() const
{
    std::lock_guard guard(lock_);
    return started_;
}

bool payload_source::take_fault(payload_fault fault)
{
    if (!faults_.empty() && faults_.front() == fault) {
        faults_.pop_front();
        return true;
    }
    return false;
}

void payload_source::write_header(std::span<std::uint8_t> buffer, bool end_of_frame) const
{
    buffer[0] = header_length;
    buffer[1] = static_cast<std::uint8_t>((frame_ & 1 ? bit_fid : 0) | bit_pts | (end_of_frame ? bit_eof : 0));
    const std::uint64_t pts = pts_of(frame_);
    for (int i = 0; i < 8; ++i) {
        buffer[2 + i] = static_cast<std::uint8_t>(pts >> (8 * i));
    }
    buffer[10] = 0;
    buffer[11] = 0;
}

void payload_source::write_image(std::uint8_t* to, std::size_t from, std::size_t count) const
{
    const std::uint32_t width = config_.width;
    std::size_t index = from;
    // Bytes 0-7 hold the frame number; the rest runs line by line.
    for (; index < from + count && index < 8; ++index) {
        *to++ = image_byte(frame_, width, index);
    }
    while (index < from + count) {
        const std::size_t x = index % width;
        const std::size_t y = index / width;
        const std::size_t run = std::min<std::size_t>(width - x, from + count - index);
        std::uint8_t value = static_cast<std::uint8_t>((x + y + frame_) & 0xFF);
        for (std::size_t i = 0; i < run; ++i) {
            *to++ = value++;
        }
        index += run;
    }
}

void payload_source::write_body(std::uint8_t* to, std::size_t from, std::size_t count) const
{
    const std::size_t image = image_size();
    const std::size_t image_part = from < image ? std::min(count, image - from) : 0;
    write_image(to, from, image_part);
    for (std::size_t i = image_part; i < count; ++i) {
        to[i] = trailers_[from + i - image];
    }
}

void payload_source::start_frame()
{
    pace_frame_start();
    frame_chunked_ = chunk_mode_;
    const bool beyond = take_fault(payload_fault::chunk_length_beyond);
    if (!frame_chunked_) {
        return;
    }
    const auto put = [this](std::size_t at, std::uint64_t value, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            trailers_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    const std::uint32_t image = image_size();
    put(0, image_chunk_id, 4);
    put(4, image, 4);
    put(8, block_id_++, 8);
    put(16, block_id_chunk_id, 4);
    put(20, beyond ? image + chunk_bytes - 4 : 8, 4);
}

void payload_source::pace_frame_start()
{
    ++started_;
    if (config_.frames_per_second == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (next_frame_ > now) {
        std::this_thread::sleep_until(next_frame_);
    }
    next_frame_ = std::max(now, next_frame_) + std::chrono::microseconds(1'000'000 / config_.frames_per_second);
}

std::uint32_t payload_source::fill(std::span<std::uint8_t> buffer)
{
    std::lock_guard guard(lock_);
    if (take_fault(payload_fault::zero_bytes) || buffer.size() < header_length) {
        return 0;
    }
    const std::size_t image = image_size();
    const bool full_frames = config_.transfer_size == 0;
    const std::size_t room = full_frames ? buffer.size() : std::min<std::size_t>(buffer.size(), config_.transfer_size);
    if (room <= header_length) {
        return 0;
    }
    for (;;) {
        if (sent_ == 0) {
            start_frame();
        }
        const std::size_t body = image + (frame_chunked_ ? chunk_bytes : 0);
        const std::size_t chunk = std::min(room - header_length, body - sent_);
        const bool last = sent_ + chunk == body;
        if (take_fault(payload_fault::lost)) {
            sent_ += chunk;
            if (last) {
                sent_ = 0;
                ++frame_;
            }
            continue; // the next payload takes this transfer
        }
        const bool end_of_frame = last && !take_fault(payload_fault::no_end_of_frame);
        write_header(buffer, end_of_frame);
        write_body(buffer.data() + header_length, sent_, chunk);
        std::size_t produced = header_length + chunk;
        if (take_fault(payload_fault::header_length_0)) {
            buffer[0] = 0;
        } else if (take_fault(payload_fault::header_length_1)) {
            buffer[0] = 1;
        } else if (take_fault(payload_fault::header_length_beyond)) {
            produced = std::min<std::size_t>(produced, 200);
            buffer[0] = static_cast<std::uint8_t>(std::min<std::size_t>(255, produced + 5));
        } else if (take_fault(payload_fault::pts_in_6_bytes)) {
            buffer[0] = 6;
        } else if (take_fault(payload_fault::truncated)) {
            produced = header_length + chunk / 2;
        }
        sent_ += chunk;
        if (last) {
            sent_ = 0;
            ++frame_;
        }
        return static_cast<std::uint32_t>(produced);
    }
}

} // namespace sim_camera
