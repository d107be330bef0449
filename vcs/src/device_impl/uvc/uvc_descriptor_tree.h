#pragma once
// Index of the class-specific VideoControl and VideoStreaming descriptors of a
// camera's USB configuration descriptor set, and the streaming endpoints of
// its alternate settings.
//
// The tree keeps its own copy of the descriptor bytes: every descriptor entry
// is a view into that copy, valid as long as the tree (or a copy of it)
// lives, whatever later descriptor requests do. Every kept descriptor holds
// the fixed fields of its kind, and every count the tree reports (controls,
// frame intervals, format controls) is limited to what the descriptor's
// bLength holds; descriptors too short for their fields are skipped with a
// log. Other inconsistencies are only logged.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "device_impl/uvc/usb_descriptor_reader.h"

namespace cam::uvc_cam {

// A terminal or unit of the VideoControl interface.
struct unit_descriptor {
    descriptor_bytes bytes;
    descriptor_bytes controls; // bmControls within bLength; empty for kinds without controls
};

struct frame_descriptor {
    descriptor_bytes bytes;
    // bFrameIntervalType limited to the discrete intervals bLength holds; 0
    // for a continuous range (dwMinFrameInterval, dwMaxFrameInterval and
    // dwFrameIntervalStep are then present).
    std::uint8_t interval_count = 0;
};

struct format_descriptor {
    std::uint8_t subtype = 0; // 0x04 uncompressed, 0x06 MJPEG, 0x10 frame-based
    descriptor_bytes bytes;
    std::vector<frame_descriptor> frames; // descriptor order, at most 16
    descriptor_bytes color_matching;      // empty when the format has none
};

struct stream_header {
    descriptor_bytes bytes;
    std::uint8_t format_count = 0; // bNumFormats limited to the bmaControls that bLength holds
    std::uint8_t control_size = 0; // bControlSize
};

struct pipe_info {
    std::uint32_t max_packet_size = 0; // wMaxPacketSize of the first endpoint, zero-extended
    std::uint8_t alternate_setting = 0;
    std::uint8_t endpoint_address = 0;
    std::uint8_t is_isoch = 0;
};

namespace uvc {
inline constexpr std::uint8_t video_class = 14;
inline constexpr std::uint8_t vendor_class = 255;
inline constexpr std::uint8_t sc_video_control = 1;
inline constexpr std::uint8_t sc_video_streaming = 2;
inline constexpr std::uint8_t sc_interface_collection = 3;

inline constexpr std::uint8_t vs_format_uncompressed = 0x04;
inline constexpr std::uint8_t vs_format_mjpeg = 0x06;
inline constexpr std::uint8_t vs_format_frame_based = 0x10;
inline constexpr std::uint8_t vs_frame_uncompressed = 0x05;
inline constexpr std::uint8_t vs_frame_mjpeg = 0x07;
inline constexpr std::uint8_t vs_frame_frame_based = 0x11;
} // namespace uvc

class uvc_descriptor_tree {
public:
    static constexpr std::size_t max_units = 5;    // of each terminal and unit kind
    static constexpr std::size_t max_formats = 10;
    static constexpr std::size_t max_frames = 16;  // per format
    static constexpr std::size_t max_pipes = 16;

    // Rebuilds the tree from a configuration descriptor set. False (and an
    // empty tree) when it holds no VideoControl or no VideoStreaming
    // interface; a malformed descriptor otherwise only ends or shortens the
    // walk that meets it.
    bool build(std::span<const std::uint8_t> configuration);
    void clear() noexcept;

    [[nodiscard]] descriptor_bytes configuration() const noexcept;
    [[nodiscard]] descriptor_bytes vc_interface() const noexcept { return vc_interface_; }
    [[nodiscard]] descriptor_bytes vc_header() const noexcept { return vc_header_; }
    [[nodiscard]] const std::vector<unit_descriptor>& input_terminals() const noexcept { return input_terminals_; }
    [[nodiscard]] const std::vector<unit_descriptor>& output_terminals() const noexcept { return output_terminals_; }
    [[nodiscard]] const std::vector<unit_descriptor>& selector_units() const noexcept { return selector_units_; }
    [[nodiscard]] const std::vector<unit_descriptor>& processing_units() const noexcept { return processing_units_; }
    [[nodiscard]] const std::vector<unit_descriptor>& extension_units() const noexcept { return extension_units_; }
    [[nodiscard]] descriptor_bytes vs_interface() const noexcept { return vs_interface_; }
    [[nodiscard]] const stream_header& vs_input_header() const noexcept { return vs_input_header_; }
    [[nodiscard]] const std::vector<format_descriptor>& formats() const noexcept { return formats_; }
    // Ascending by max_packet_size.
    [[nodiscard]] const std::vector<pipe_info>& pipes() const noexcept { return pipes_; }

private:
    std::size_t walk_video_control(descriptor_bytes all, std::size_t offset);
    void add_unit(descriptor_bytes d);
    void record_pipes(descriptor_bytes all, std::size_t vs_offset);
    void record_pipe(descriptor_bytes all, std::size_t interface_offset);
    void walk_video_streaming(descriptor_bytes all, std::size_t offset);
    void add_format(descriptor_bytes d);
    void add_frame(descriptor_bytes d);

    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    descriptor_bytes vc_interface_;
    descriptor_bytes vc_header_;
    std::vector<unit_descriptor> input_terminals_;
    std::vector<unit_descriptor> output_terminals_;
    std::vector<unit_descriptor> selector_units_;
    std::vector<unit_descriptor> processing_units_;
    std::vector<unit_descriptor> extension_units_;
    descriptor_bytes vs_interface_;
    stream_header vs_input_header_;
    std::vector<format_descriptor> formats_;
    std::vector<pipe_info> pipes_;
};

} // namespace cam::uvc_cam
