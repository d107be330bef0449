#include "device_impl/uvc/usb_descriptor_reader.h"

#include "gen_utils/log.h"

namespace cam::uvc_cam {

std::optional<descriptor_bytes> descriptor_at(descriptor_bytes block, std::size_t offset) noexcept
{
    if (offset >= block.size()) {
        return std::nullopt;
    }
    const std::size_t left = block.size() - offset;
    if (left < 2) {
        log_line(logging::level_error, "[CamTovra] Invalid descriptor at end of USB configuration descriptor.\n");
        return std::nullopt;
    }
    const std::uint8_t length = block[offset];
    if (length == 0 || length > left) {
        log_line(logging::level_error,
                 "[CamTovra] Invalid length descriptor (len={},type={}) in USB configuration descriptor.\n", length,
                 block[offset + 1]);
        return std::nullopt;
    }
    return block.subspan(offset, length);
}

std::optional<found_descriptor> find_descriptor(descriptor_bytes block, std::size_t offset, std::uint8_t type,
                                                std::size_t standard_size, const char* struct_name) noexcept
{
    while (const auto d = descriptor_at(block, offset)) {
        if ((*d)[1] == type) {
            if (d->size() < standard_size) {
                log_line(logging::level_error,
                         "[CamTovra] Struct type ({}) is too big for descriptor (len={},type={}).\n", struct_name,
                         d->size(), type);
            }
            return found_descriptor{offset, *d};
        }
        offset += d->size();
    }
    return std::nullopt;
}

} // namespace cam::uvc_cam
