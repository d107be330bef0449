#pragma once
// The chunk layout of a frame in chunk mode: every chunk is its data
// followed by a trailer of u32 chunk id and u32 data length (little-endian),
// and the chunks follow one another, the last trailer ending the frame's
// valid data. The walk goes backwards from the end.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace cam::impl {

struct chunk_view {
    std::uint32_t id = 0;
    std::span<std::uint8_t> data;
};

// Visits the chunks from the last to the first and returns how many
// trailers were walked. The walk stops when fewer than 8 bytes remain or a
// trailer's length reaches before the start of `frame`; nothing outside
// `frame` is read.
std::size_t walk_chunk_trailers(std::span<std::uint8_t> frame, const std::function<void(const chunk_view&)>& visit);

} // namespace cam::impl
