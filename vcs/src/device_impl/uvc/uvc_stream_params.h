#pragma once
// The values that decide how a UVC stream is negotiated and carried: the VS
// probe/commit record, the transfer size proposed to the device, the checks
// on what the device commits, bulk full-frame or payload mode, and the
// matching of a requested stream format against the offered ones.
// Platform-free.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device_impl/camera_base/stream_format_entry.h"
#include "device_impl/uvc/uvc_descriptor_tree.h"

namespace cam::uvc_cam {

// UVC 1.1 VideoStreaming probe and commit control, 34 bytes, little-endian.
class vs_probe_commit {
public:
    static constexpr std::size_t size = 34;

    [[nodiscard]] std::uint16_t hint() const noexcept { return get16(0); }
    void set_hint(std::uint16_t v) noexcept { put(0, v, 2); }
    [[nodiscard]] std::uint8_t format_index() const noexcept { return bytes_[2]; }
    void set_format_index(std::uint8_t v) noexcept { bytes_[2] = v; }
    [[nodiscard]] std::uint8_t frame_index() const noexcept { return bytes_[3]; }
    void set_frame_index(std::uint8_t v) noexcept { bytes_[3] = v; }
    [[nodiscard]] std::uint32_t frame_interval() const noexcept { return get32(4); }
    void set_frame_interval(std::uint32_t v) noexcept { put(4, v, 4); }
    [[nodiscard]] std::uint32_t max_video_frame_size() const noexcept { return get32(18); }
    void set_max_video_frame_size(std::uint32_t v) noexcept { put(18, v, 4); }
    [[nodiscard]] std::uint32_t max_payload_transfer_size() const noexcept { return get32(22); }
    void set_max_payload_transfer_size(std::uint32_t v) noexcept { put(22, v, 4); }

    std::uint8_t* data() noexcept { return bytes_.data(); }
    [[nodiscard]] const std::uint8_t* data() const noexcept { return bytes_.data(); }
    void clear() noexcept { bytes_.fill(0); }
    friend bool operator==(const vs_probe_commit&, const vs_probe_commit&) = default;

private:
    [[nodiscard]] std::uint16_t get16(std::size_t at) const noexcept
    {
        return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
    }
    [[nodiscard]] std::uint32_t get32(std::size_t at) const noexcept
    {
        return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1]) << 8 |
               static_cast<std::uint32_t>(bytes_[at + 2]) << 16 | static_cast<std::uint32_t>(bytes_[at + 3]) << 24;
    }
    void put(std::size_t at, std::uint32_t v, std::size_t n) noexcept
    {
        for (std::size_t i = 0; i < n; ++i) {
            bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    std::array<std::uint8_t, size> bytes_{};
};

// dwMaxPayloadTransferSize of a probe or commit record.
[[nodiscard]] inline std::uint32_t payload_transfer_size(const vs_probe_commit& record) noexcept
{
    return record.max_payload_transfer_size();
}

// Committed sizes beyond this are refused: they would allocate gigabytes and
// overflow the 32-bit size fields of the frame channel's header.
inline constexpr std::uint32_t max_committed_size = 256u << 20;
// The largest payload header bHeaderLength can announce.
inline constexpr std::uint32_t max_payload_header_size = 255;

// Bytes one frame of the stream may need: the committed dwMaxVideoFrameSize,
// or `image_size` (the uncompressed image; 0 for compressed formats) when
// that is larger. A camera that commits less than its image sends the whole
// image all the same, and a frame shorter than the image is never complete.
[[nodiscard]] std::uint32_t frame_size(const vs_probe_commit& commit, std::uint32_t image_size) noexcept;

// Both committed sizes are non-zero (a zero-length read would spin the pipe
// thread) and at most max_committed_size, and so is the frame size of
// `image_size` (see frame_size).
[[nodiscard]] bool committed_sizes_usable(const vs_probe_commit& commit, std::uint32_t image_size) noexcept;

// Isochronous when the pipe table has two or more alternate settings, or one
// isochronous one.
[[nodiscard]] bool is_isochronous_stream(const std::vector<pipe_info>& pipes) noexcept;

// What the bus transfer size depends on besides the pipe table.
struct bus_environment {
    bool windows8_or_later = true;
    bool usb3 = false;
    // The store's `max_transfer_size`, when it holds an integer.
    std::optional<std::int64_t> store_max_transfer_size;
};

// dwMaxPayloadTransferSize proposed in the probe: 0 for isochronous streams;
// for bulk 32 MiB on USB 3 and 4 MiB otherwise (10 MiB on systems older than
// Windows 8), unless the store names a size above 4096 that fits 32 bits.
[[nodiscard]] std::uint32_t max_bus_transfer_size(const std::vector<pipe_info>& pipes, const bus_environment& env);

// How completed transfers are read: whole frames into lent frame buffers, or
// payloads into transfer buffers of their own that are reassembled.
struct stream_transfer_plan {
    bool bulk = true;
    bool full_frame = false;
    std::uint32_t transfer_size = 0;
};

// Bulk: transfers of dwMaxPayloadTransferSize, full-frame only when one such
// transfer holds a whole frame (see frame_size) and the largest payload
// header. Isochronous: transfers of 80 packets, payload mode.
[[nodiscard]] stream_transfer_plan plan_stream_transfers(const std::vector<pipe_info>& pipes,
                                                         const vs_probe_commit& commit,
                                                         std::uint32_t image_size) noexcept;

// Bytes of a lent frame buffer: dwMaxPayloadTransferSize in full-frame mode,
// else the frame size (see frame_size).
[[nodiscard]] std::uint32_t required_frame_buffer_size(bool full_frame, const vs_probe_commit& commit,
                                                       std::uint32_t image_size) noexcept;

// True when `value` lies in [minimum, maximum] on the step grid from the
// minimum. A step of 0 or less (which a device's range can bring) accepts
// only the minimum.
[[nodiscard]] bool size_on_step(std::int32_t value, std::int32_t minimum, std::int32_t maximum,
                                std::int32_t step) noexcept;

// The first entry with the FOURCC whose size range holds width x height.
[[nodiscard]] std::optional<std::size_t> find_stream_format_entry(const std::vector<stream_format_entry>& entries,
                                                                  std::uint32_t fourcc, std::int32_t width,
                                                                  std::int32_t height) noexcept;

// Bytes of one image the camera sends: the pixel-format rule for a known
// FOURCC, else height * (width * bits_per_pixel / 8); 0 when negative or
// beyond 32 bits.
[[nodiscard]] std::uint32_t input_image_size(std::uint32_t fourcc, std::int32_t width, std::int32_t height,
                                             std::uint32_t bits_per_pixel) noexcept;

} // namespace cam::uvc_cam
