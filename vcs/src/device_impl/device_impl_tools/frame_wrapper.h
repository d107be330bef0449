#pragma once
// One frame buffer of a camera's frame path: a fixed header at the start of the
// buffer, the image data `header_size` bytes after it.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cam {

// Bytes of the header that carry values; the rest of the header is reserved.
inline constexpr std::size_t frame_header_used_size = 224;
// Bytes reserved for the header in front of every frame's data area.
inline constexpr std::size_t frame_header_size = 4096;

// Header fields of the frame path (little-endian; offsets into the header).
namespace frame_header {
inline constexpr std::size_t total_size = 0;
inline constexpr std::size_t id = 4;
inline constexpr std::size_t data_start = 8;
inline constexpr std::size_t capacity = 12;
inline constexpr std::size_t valid_size = 16;
inline constexpr std::size_t frame_number = 20;
inline constexpr std::size_t fid = 28;
inline constexpr std::size_t pts = 36;
inline constexpr std::size_t first_payload_us = 44;
inline constexpr std::size_t completed_us = 52;
inline constexpr std::size_t flags = 76;
inline constexpr std::uint32_t flag_incomplete = 1u << 0;
inline constexpr std::uint32_t flag_chunk_data = 1u << 2;
} // namespace frame_header

struct frame_wrapper {
    std::uint32_t id = 0;               // buffer id; 0 is never handed out
    std::uint64_t size = 0;             // whole allocation: header + capacity
    std::uint64_t header_size = 0;      // the data area starts this far into the buffer
    std::uint64_t capacity = 0;         // bytes of the data area
    std::uint64_t valid_data_size_ = 0; // bytes of the data area that hold data
    std::uint64_t offset = 0;           // bytes at the start of the data area that are not image data
    std::uint8_t* buffer = nullptr;     // the header's address
    std::shared_ptr<void> memory;       // owner of the allocation `buffer` lies in (may be empty)

    std::uint8_t* data() const noexcept { return buffer + header_size; }
};

// A fresh buffer id from the process-wide counter; never 0.
std::uint32_t next_frame_id() noexcept;

// Committed memory for one buffer of `size` bytes, page aligned: large pages
// first where the system has them, else ordinary pages. Throws std::bad_alloc.
// The returned owner releases the whole allocation.
std::shared_ptr<std::uint8_t> allocate_frame_memory(std::size_t size);

// A buffer record of `capacity` data bytes behind a 4096-byte header, with a
// new id and a reset header. Throws std::bad_alloc.
std::unique_ptr<frame_wrapper> make_frame_buffer(std::uint64_t capacity);

// Prepares a buffer for a new frame: counters to 0, header rewritten (size,
// id, header size, capacity, then zeros up to byte 224) and, when `clear` is
// set, the data area zeroed. A buffer that is missing or whose header is
// shorter than 224 bytes only has its counters reset; that is logged.
void frame_header_reset(frame_wrapper& frame, bool clear) noexcept;

} // namespace cam
