#pragma once
// The simulated camera's video stream: UVC payloads of a Y800 image whose
// bytes a client can check one by one. Each payload starts with a 12-byte
// header (bHeaderLength 12; FID toggled per frame; EOF on a frame's last
// payload; the PTS bit with a 64-bit time stamp at offset 2). The image
// carries the frame number in its first 8 bytes (little-endian) and
// (x + y + frame) & 0xFF in every other byte.
//
// Chunk mode (switched on and off between frames): the image is followed by
// its trailer (u32 chunk id 0xA0, u32 the image's size), an 8-byte block id
// counting up from 1, and its trailer (u32 chunk id 1, u32 8); all
// little-endian. The frame's payloads then carry these 24 bytes too.
//
// Payload mode: one payload of at most the transfer size per transfer.
// Full-frame mode (transfer size 0): header and whole image in one transfer.
// Faults are injected for the next payload (or frame) and taken in order.

#include "sim_camera.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>

namespace sim_camera {

struct payload_stream_config {
    std::uint32_t width = 64;
    std::uint32_t height = 32;
    std::uint32_t transfer_size = 1024; // bytes a payload may have, header included; 0: full frames
    std::uint32_t frames_per_second = 0; // 0: as fast as transfers are asked for
};

enum class payload_fault {
    header_length_0,      // bHeaderLength 0
    header_length_1,      // bHeaderLength 1
    header_length_beyond, // bHeaderLength beyond the bytes sent
    pts_in_6_bytes,       // the PTS bit with bHeaderLength 6
    no_end_of_frame,      // the frame's last payload lacks EOF (the next frame toggles FID without it)
    truncated,            // the payload arrives with half its data
    lost,                 // the payload never arrives
    zero_bytes,           // the transfer ends without data
    // Chunk mode, taken when the next frame starts: the block id's trailer
    // claims a length reaching 4 bytes before the frame's start.
    chunk_length_beyond,
};

class payload_source {
public:
    static constexpr std::uint32_t header_length = 12;
    static constexpr std::uint32_t image_chunk_id = 0xA0;
    static constexpr std::uint32_t block_id_chunk_id = 1;
    static constexpr std::uint32_t chunk_bytes = 24;

    explicit payload_source(payload_stream_config config);

    // Fills one transfer; the bytes produced.
    std::uint32_t fill(std::span<std::uint8_t> buffer);
    // A generator for camera::set_payload_generator; the source must outlive it.
    payload_generator generator();

    void inject(payload_fault fault);
    // Chunk data from the next frame on (or no longer).
    void set_chunk_mode(bool on);
    bool chunk_mode() const;
    // The block id the next chunk-mode frame carries.
    std::uint64_t next_block_id() const;
    // Frames whose first payload has been produced.
    std::uint64_t frames_started() const;
    const payload_stream_config& config() const noexcept { return config_; }
    std::uint32_t image_size() const noexcept { return config_.width * config_.height; }

    // The image byte at `index` of frame `frame`.
    static std::uint8_t image_byte(std::uint64_t frame, std::uint32_t width, std::size_t index) noexcept;
    // Checks a whole image: the frame number it carries, or the index of the
    // first wrong byte through `bad_index` (false).
    static bool check_image(std::span<const std::uint8_t> image, std::uint32_t width, std::uint64_t* frame,
                            std::size_t* bad_index) noexcept;
    // The time stamp of frame `frame`.
    static std::uint64_t pts_of(std::uint64_t frame) noexcept { return 0x1000'0000'0000ull + frame * 1000; }

private:
    bool take_fault(payload_fault fault);
    void write_header(std::span<std::uint8_t> buffer, bool end_of_frame) const;
    void write_image(std::uint8_t* to, std::size_t from, std::size_t count) const;
    // Image bytes, then the chunk trailers of a chunk-mode frame.
    void write_body(std::uint8_t* to, std::size_t from, std::size_t count) const;
    void start_frame();
    void pace_frame_start();

    payload_stream_config config_;
    mutable std::mutex lock_;
    std::deque<payload_fault> faults_;
    std::uint64_t frame_ = 0;   // frame being sent
    std::size_t sent_ = 0;      // bytes of its image already sent
    std::uint64_t started_ = 0;
    bool chunk_mode_ = false;         // wanted from the next frame on
    bool frame_chunked_ = false;      // the frame being sent carries chunks
    std::uint64_t block_id_ = 1;
    std::uint8_t trailers_[chunk_bytes]{};
    std::chrono::steady_clock::time_point next_frame_{};
};

} // namespace sim_camera
