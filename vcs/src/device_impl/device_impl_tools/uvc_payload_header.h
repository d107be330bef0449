#pragma once
// The header at the start of every UVC payload: bHeaderLength, bmHeaderInfo
// and, when bmHeaderInfo says so, the presentation time stamp right after them.

#include <cstddef>
#include <cstdint>
#include <span>

namespace cam {

struct payload_info {
    std::uint64_t pts = 0;        // 0 when the header carries none
    std::uint32_t fid = 0;        // frame identifier bit
    bool end_of_frame = false;
    bool error = false; // the camera marks the payload's data as bad
    bool valid = false;
    std::uint8_t header_length = 0; // bytes of the header (valid headers only)
};

namespace payload_header_bits {
inline constexpr std::uint8_t fid = 1u << 0;
inline constexpr std::uint8_t end_of_frame = 1u << 1;
inline constexpr std::uint8_t pts = 1u << 2;
inline constexpr std::uint8_t error = 1u << 6;
} // namespace payload_header_bits

// Parses the header at the start of `payload`. Invalid: fewer than 2 bytes, a
// bHeaderLength below 2 or beyond the bytes received, or a PTS flag with a
// header too short for the time stamp (10 bytes with 64-bit time stamps, 6
// with 32-bit ones). Never reads past `payload`.
payload_info parse_payload_header(std::span<const std::uint8_t> payload, bool pts_64bit) noexcept;

} // namespace cam
