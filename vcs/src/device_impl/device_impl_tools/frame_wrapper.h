#pragma once
// One frame buffer of a camera's frame path: a fixed header at the start of the
// buffer, the image data `header_size` bytes after it.

#include <cstddef>
#include <cstdint>

namespace cam {

// Bytes of the header that carry values; the rest of the header is reserved.
inline constexpr std::size_t frame_header_used_size = 224;

struct frame_wrapper {
    std::uint32_t id = 0;               // buffer id; 0 is never handed out
    std::uint64_t size = 0;             // whole allocation: header + capacity
    std::uint64_t header_size = 0;      // the data area starts this far into the buffer
    std::uint64_t capacity = 0;         // bytes of the data area
    std::uint64_t valid_data_size_ = 0; // bytes of the data area that hold data
    std::uint64_t offset = 0;           // bytes at the start of the data area that are not image data
    std::uint8_t* buffer = nullptr;     // the header's address
};

// Prepares a buffer for a new frame: counters to 0, header rewritten (size,
// id, header size, capacity, then zeros up to byte 224) and, when `clear` is
// set, the data area zeroed. A buffer that is missing or whose header is
// shorter than 224 bytes only has its counters reset; that is logged.
void frame_header_reset(frame_wrapper& frame, bool clear) noexcept;

} // namespace cam
