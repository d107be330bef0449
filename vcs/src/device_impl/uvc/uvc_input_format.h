#pragma once
// The input formats of a UVC camera: one record per frame descriptor of its
// uncompressed, MJPEG and frame-based formats, read from the descriptor tree
// with the sanity checks the service logs, and the frame intervals a frame
// descriptor offers. Platform-free.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "device_impl/uvc/uvc_descriptor_tree.h"

namespace cam::uvc_cam {

struct input_format {
    std::uint32_t format_index = 0; // bFormatIndex
    std::uint32_t frame_index = 0;  // bFrameIndex
    std::array<std::uint8_t, 16> guid{};
    std::uint32_t bits_per_pixel = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t max_width = 0;
    std::int32_t max_height = 0;
    std::int32_t width_step = 1;
    std::int32_t height_step = 1;
    std::uint32_t min_interval = 0; // 100-ns units
    std::uint32_t max_interval = 0;
    std::uint32_t default_interval = 0;
    // An MJPEG or frame-based format: its frames are as long as the camera
    // makes them, not as long as an image of the size.
    bool compressed = false;
};

// The FOURCC of a format GUID: RGB24 and RGB32 media subtypes give "RGB3" and
// "RGB4", any other GUID its first four bytes.
[[nodiscard]] std::uint32_t input_format_fourcc(const std::array<std::uint8_t, 16>& guid) noexcept;

// The input formats of the tree: every frame of every uncompressed, MJPEG and
// frame-based format in descriptor order; other subtypes are skipped. When
// `check` is set (service log level above 2), each uncompressed or
// frame-based record is checked against those accepted before it and
// inconsistencies are logged, not rejected. A record is kept when `accept`
// returns true; it may rewrite the record's size and intervals.
using accept_input_format_fn = std::function<bool(input_format&)>;
[[nodiscard]] std::vector<input_format> read_input_formats(const uvc_descriptor_tree& tree, bool check,
                                                           const accept_input_format_fn& accept);

// Logs what is wrong with `record` given the records accepted before it.
void check_input_format(const input_format& record, const std::vector<input_format>& before);

// The intervals a frame descriptor offers, ascending as listed: discrete
// intervals; a continuous range without step as [min, max]; with a step as
// [min]. Empty when the tree has no such format and frame.
[[nodiscard]] std::vector<std::uint64_t> descriptor_frame_intervals(const uvc_descriptor_tree& tree,
                                                                    std::uint32_t format_index,
                                                                    std::uint32_t frame_index);

} // namespace cam::uvc_cam
