#include "device_impl/uvc/uvc_stream_params.h"

#include <algorithm>
#include <limits>

#include "device_impl/image/image_format.h"
#include "gen_utils/log.h"

namespace cam::uvc_cam {

namespace {
constexpr std::uint32_t bulk_usb3 = 0x2000000;
constexpr std::uint32_t bulk_usb2 = 0x400000;
constexpr std::uint32_t bulk_before_windows8 = 0xA00000;
constexpr std::int64_t store_minimum = 4096;
constexpr std::uint32_t isochronous_transfer_size = 80;
} // namespace

std::uint32_t frame_size(const vs_probe_commit& commit, std::uint32_t image_size) noexcept
{
    return std::max(commit.max_video_frame_size(), image_size);
}

bool committed_sizes_usable(const vs_probe_commit& commit, std::uint32_t image_size) noexcept
{
    const std::uint32_t frame = commit.max_video_frame_size();
    const std::uint32_t payload = commit.max_payload_transfer_size();
    return frame != 0 && payload != 0 && frame_size(commit, image_size) <= max_committed_size &&
           payload <= max_committed_size;
}

bool is_isochronous_stream(const std::vector<pipe_info>& pipes) noexcept
{
    return pipes.size() >= 2 || (pipes.size() == 1 && pipes.front().is_isoch != 0);
}

std::uint32_t max_bus_transfer_size(const std::vector<pipe_info>& pipes, const bus_environment& env)
{
    if (is_isochronous_stream(pipes)) {
        return 0;
    }
    std::uint32_t size = 0;
    if (env.windows8_or_later) {
        size = env.usb3 ? bulk_usb3 : bulk_usb2;
    } else {
        size = bulk_before_windows8;
        log_line(logging::level_trace, "[CamTovra] setting max_bus_transfer_size to {}, due to running on Windows 7.\n",
                 size);
    }
    if (env.store_max_transfer_size) {
        const std::int64_t stored = *env.store_max_transfer_size;
        // A value that does not fit the probe's 32-bit field is no size.
        if (stored > store_minimum && stored <= std::numeric_limits<std::uint32_t>::max()) {
            size = static_cast<std::uint32_t>(stored);
            log_line(logging::level_trace, "[CamTovra] Overwriting max_bus_transfer_size={}.\n", size);
        }
    }
    return size;
}

stream_transfer_plan plan_stream_transfers(const std::vector<pipe_info>& pipes, const vs_probe_commit& commit,
                                           std::uint32_t image_size) noexcept
{
    stream_transfer_plan plan;
    if (is_isochronous_stream(pipes)) {
        plan.bulk = false;
        plan.transfer_size = isochronous_transfer_size;
        return plan;
    }
    plan.transfer_size = commit.max_payload_transfer_size();
    plan.full_frame = std::uint64_t{plan.transfer_size} >=
                      std::uint64_t{frame_size(commit, image_size)} + max_payload_header_size;
    return plan;
}

std::uint32_t required_frame_buffer_size(bool full_frame, const vs_probe_commit& commit,
                                         std::uint32_t image_size) noexcept
{
    return full_frame ? commit.max_payload_transfer_size() : frame_size(commit, image_size);
}

bool size_on_step(std::int32_t value, std::int32_t minimum, std::int32_t maximum, std::int32_t step) noexcept
{
    if (value < minimum || value > maximum) {
        return false;
    }
    if (step <= 0) {
        return value == minimum;
    }
    return (std::int64_t{value} - minimum) % step == 0;
}

std::optional<std::size_t> find_stream_format_entry(const std::vector<stream_format_entry>& entries,
                                                    std::uint32_t fourcc, std::int32_t width,
                                                    std::int32_t height) noexcept
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const stream_format_info& info = entries[i].info;
        if (info.MediaTypeFourCC == fourcc &&
            size_on_step(width, info.MinDim.cx, info.MaxDim.cx, info.StepDim.cx) &&
            size_on_step(height, info.MinDim.cy, info.MaxDim.cy, info.StepDim.cy)) {
            return i;
        }
    }
    return std::nullopt;
}

std::uint32_t input_image_size(std::uint32_t fourcc, std::int32_t width, std::int32_t height,
                               std::uint32_t bits_per_pixel) noexcept
{
    if (img::fourcc_bits_per_pixel(fourcc) != 0) {
        return img::image_buffer_size(fourcc, width, height);
    }
    if (width < 0 || height < 0) {
        return 0;
    }
    const std::uint64_t line = std::uint64_t(width) * bits_per_pixel / 8;
    const std::uint64_t bytes = line * std::uint64_t(height);
    return bytes > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(bytes);
}

} // namespace cam::uvc_cam
