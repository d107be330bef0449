#pragma once
// Reading USB descriptors out of a configuration descriptor set: little-endian
// fields that read 0 past the end of their descriptor, and the descriptor
// stepping that every search uses.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace cam::uvc_cam {

// One descriptor (bLength bytes), or an empty span for an absent one.
using descriptor_bytes = std::span<const std::uint8_t>;

namespace usb {
inline constexpr std::uint8_t interface_type = 0x04;
inline constexpr std::uint8_t endpoint_type = 0x05;
inline constexpr std::uint8_t interface_association_type = 0x0B;
inline constexpr std::uint8_t cs_interface_type = 0x24;

inline constexpr std::size_t interface_size = 9;
inline constexpr std::size_t interface_association_size = 8;
inline constexpr std::size_t endpoint_size = 7;
} // namespace usb

// Fields of a descriptor; a field that lies past the descriptor's end reads 0.
[[nodiscard]] inline std::uint8_t read_u8(descriptor_bytes d, std::size_t offset) noexcept
{
    return offset < d.size() ? d[offset] : 0;
}

[[nodiscard]] inline std::uint16_t read_le16(descriptor_bytes d, std::size_t offset) noexcept
{
    return offset + 2 <= d.size() ? static_cast<std::uint16_t>(d[offset] | d[offset + 1] << 8) : 0;
}

[[nodiscard]] inline std::uint32_t read_le32(descriptor_bytes d, std::size_t offset) noexcept
{
    if (offset + 4 > d.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(d[offset]) | static_cast<std::uint32_t>(d[offset + 1]) << 8 |
           static_cast<std::uint32_t>(d[offset + 2]) << 16 | static_cast<std::uint32_t>(d[offset + 3]) << 24;
}

// The descriptor that starts at `offset` of `block`, when its bLength is
// non-zero and it lies within the block. Logs why it is not otherwise (the
// end of a configuration descriptor set is no error: no log then).
[[nodiscard]] std::optional<descriptor_bytes> descriptor_at(descriptor_bytes block, std::size_t offset) noexcept;

// The first descriptor of `type` at or after `offset`, with its offset.
// Stepping stops at a descriptor that is malformed (logged); a descriptor of
// the sought type shorter than `standard_size` is still returned, with a log.
struct found_descriptor {
    std::size_t offset;
    descriptor_bytes bytes;
};
[[nodiscard]] std::optional<found_descriptor> find_descriptor(descriptor_bytes block, std::size_t offset,
                                                              std::uint8_t type, std::size_t standard_size,
                                                              const char* struct_name) noexcept;

} // namespace cam::uvc_cam
