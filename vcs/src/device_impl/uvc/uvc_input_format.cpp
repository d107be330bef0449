#include "device_impl/uvc/uvc_input_format.h"

#include <algorithm>

#include "device_impl/image/image_format.h"
#include "gen_utils/log.h"

namespace cam::uvc_cam {

namespace {

using logging::level_error;
using logging::level_warning;

constexpr std::array<std::uint8_t, 16> mediasubtype_mjpg = {0x4D, 0x4A, 0x50, 0x47, 0x00, 0x00, 0x10, 0x00,
                                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// {E436EB7D-524F-11CE-9F53-0020AF0BA770} and {E436EB7E-...}, as stored in memory.
constexpr std::array<std::uint8_t, 16> mediasubtype_rgb24 = {0x7D, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11,
                                                             0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70};
constexpr std::array<std::uint8_t, 16> mediasubtype_rgb32 = {0x7E, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11,
                                                             0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70};

constexpr std::size_t intervals_offset = 26;

// Offsets that differ between the frame layouts: frame-based frames keep
// dwDefaultFrameInterval 4 bytes earlier (they have no dwMaxVideoFrameBufferSize).
std::size_t default_interval_offset(descriptor_bytes frame)
{
    return read_u8(frame, 2) == uvc::vs_frame_frame_based ? 17 : 21;
}

std::array<std::uint8_t, 16> format_guid(descriptor_bytes format)
{
    std::array<std::uint8_t, 16> guid{};
    for (std::size_t i = 0; i < guid.size(); ++i) {
        guid[i] = read_u8(format, 5 + i);
    }
    return guid;
}

} // namespace

std::uint32_t input_format_fourcc(const std::array<std::uint8_t, 16>& guid) noexcept
{
    if (guid == mediasubtype_rgb24) {
        return img::fourcc("RGB3");
    }
    if (guid == mediasubtype_rgb32) {
        return img::fourcc("RGB4");
    }
    return static_cast<std::uint32_t>(guid[0]) | static_cast<std::uint32_t>(guid[1]) << 8 |
           static_cast<std::uint32_t>(guid[2]) << 16 | static_cast<std::uint32_t>(guid[3]) << 24;
}

void check_input_format(const input_format& record, const std::vector<input_format>& before)
{
    const bool repeated = std::any_of(before.begin(), before.end(), [&](const input_format& r) {
        return r.format_index == record.format_index && r.frame_index == record.frame_index;
    });
    if (repeated) {
        log_line(level_error,
                 "[CamTovra] cam::uvc_cam::uvc_device_base::check_input_format uvc_format_index={}, "
                 "uvc_frame_index={} already present in format list.\n",
                 record.format_index, record.frame_index);
    }
    const std::uint32_t table_bits = img::fourcc_bits_per_pixel(input_format_fourcc(record.guid));
    if (table_bits != 0 && table_bits != record.bits_per_pixel) {
        log_line(level_error,
                 "[CamTovra] cam::uvc_cam::uvc_device_base::check_input_format Invalid bits per pixel specified in "
                 "input format, uvc_format_index={}, uvc_frame_index={}.\n",
                 record.format_index, record.frame_index);
    }
    if (record.max_interval < record.min_interval) {
        log_line(level_error,
                 "[CamTovra] cam::uvc_cam::uvc_device_base::check_input_format Invalid frame intervals in input "
                 "format, uvc_format_index={}, uvc_frame_index={}.\n",
                 record.format_index, record.frame_index);
    }
    if (record.default_interval < record.min_interval || record.default_interval > record.max_interval) {
        log_line(level_error,
                 "[CamTovra] cam::uvc_cam::uvc_device_base::check_input_format Invalid default frame in input "
                 "format, uvc_format_index={}, uvc_frame_index={}.\n",
                 record.format_index, record.frame_index);
    }
}

std::vector<input_format> read_input_formats(const uvc_descriptor_tree& tree, bool check,
                                             const accept_input_format_fn& accept)
{
    std::vector<input_format> out;
    const auto& formats = tree.formats();
    for (std::size_t f = 0; f < formats.size(); ++f) {
        const format_descriptor& format = formats[f];
        if (format.subtype != uvc::vs_format_uncompressed && format.subtype != uvc::vs_format_mjpeg &&
            format.subtype != uvc::vs_format_frame_based) {
            continue;
        }
        for (std::size_t i = 0; i < format.frames.size(); ++i) {
            const frame_descriptor& frame = format.frames[i];
            if (format.bytes.empty() || frame.bytes.empty()) {
                log_line(level_warning,
                         "[CamTovra] UVCDescriptorTree.FormatDescs[{}].FrameTypes[{}].p* == nullptr (skipping)\n", f,
                         i);
                continue;
            }
            input_format record;
            record.format_index = read_u8(format.bytes, 3);
            record.frame_index = read_u8(frame.bytes, 3);
            record.compressed = format.subtype != uvc::vs_format_uncompressed;
            if (format.subtype == uvc::vs_format_mjpeg) {
                record.guid = mediasubtype_mjpg;
                record.bits_per_pixel = 24;
            } else {
                record.guid = format_guid(format.bytes);
                record.bits_per_pixel = read_u8(format.bytes, 21);
            }
            record.width = read_le16(frame.bytes, 5);
            record.height = read_le16(frame.bytes, 7);
            record.max_width = record.width;
            record.max_height = record.height;
            record.default_interval = read_le32(frame.bytes, default_interval_offset(frame.bytes));
            record.min_interval = read_le32(frame.bytes, intervals_offset);
            // The count comes from the tree, which limits it to the intervals
            // the descriptor holds.
            record.max_interval = frame.interval_count > 0
                                      ? read_le32(frame.bytes, intervals_offset + 4 * (frame.interval_count - 1))
                                      : read_le32(frame.bytes, intervals_offset + 4);
            if (check && format.subtype != uvc::vs_format_mjpeg) {
                check_input_format(record, out);
            }
            if (!accept || accept(record)) {
                out.push_back(record);
            }
        }
    }
    return out;
}

std::vector<std::uint64_t> descriptor_frame_intervals(const uvc_descriptor_tree& tree, std::uint32_t format_index,
                                                      std::uint32_t frame_index)
{
    for (const format_descriptor& format : tree.formats()) {
        if (format.subtype != uvc::vs_format_uncompressed && format.subtype != uvc::vs_format_mjpeg &&
            format.subtype != uvc::vs_format_frame_based) {
            continue;
        }
        if (read_u8(format.bytes, 3) != format_index) {
            continue;
        }
        for (const frame_descriptor& frame : format.frames) {
            if (read_u8(frame.bytes, 3) != frame_index) {
                continue;
            }
            std::vector<std::uint64_t> out;
            if (frame.interval_count > 0) {
                for (std::size_t i = 0; i < frame.interval_count; ++i) {
                    out.push_back(read_le32(frame.bytes, intervals_offset + 4 * i));
                }
                return out;
            }
            out.push_back(read_le32(frame.bytes, intervals_offset));
            if (read_le32(frame.bytes, intervals_offset + 8) == 0) {
                out.push_back(read_le32(frame.bytes, intervals_offset + 4));
            }
            return out;
        }
    }
    return {};
}

} // namespace cam::uvc_cam
