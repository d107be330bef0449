#include "device_impl/device_impl_tools/uvc_payload_header.h"

namespace cam {

payload_info parse_payload_header(std::span<const std::uint8_t> payload, bool pts_64bit) noexcept
{
    payload_info info;
    if (payload.size() < 2) {
        return info;
    }
    const std::uint8_t length = payload[0];
    // A header shorter than its own two fixed bytes would turn them into
    // image data.
    if (length < 2 || length > payload.size()) {
        return info;
    }
    const std::uint8_t flags = payload[1];
    if ((flags & payload_header_bits::pts) != 0) {
        const std::size_t stamp_bytes = pts_64bit ? 8 : 4;
        if (length < 2 + stamp_bytes) {
            return info;
        }
        for (std::size_t i = 0; i < stamp_bytes; ++i) {
            info.pts |= std::uint64_t{payload[2 + i]} << (8 * i);
        }
    }
    info.fid = flags & payload_header_bits::fid;
    info.end_of_frame = (flags & payload_header_bits::end_of_frame) != 0;
    info.error = (flags & payload_header_bits::error) != 0;
    info.header_length = length;
    info.valid = true;
    return info;
}

} // namespace cam
