#include "streaming_active_device.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "camtovra_service.h"
#include "gen_utils/win32_utils.h"
#include "sim_driver_io.h"

namespace fake_devices {

namespace {
constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007A);
constexpr HRESULT no_format_selected = static_cast<HRESULT>(0x80070490);
static_assert(sizeof(cam::frame_counts) == sizeof(DShowDeviceServer_FrameCountInfo));
} // namespace

streaming_active_device::streaming_active_device(const GUID& device_id, streaming_options options,
                                                 std::shared_ptr<device_stats> stats)
    : options_(options), stats_(std::move(stats)), channel_(win32::guid_to_wstring(device_id)),
      io_(std::make_unique<nox_um_test::sim_driver_io>())
{
    if (io_->start() != STATUS_SUCCESS) {
        throw std::runtime_error("the simulated camera did not start");
    }
    auto file = nox_um::usb_device_handle::open(io_->device_path(), *io_);
    if (!file) {
        throw std::system_error(file.error(), "Failed to open nox_um device");
    }
    device_ = std::make_unique<nox_um::usb_device_handle>(std::move(file).value(), io_->device_path());
    source_ = std::make_unique<sim_camera::payload_source>(options_.camera);
    io_->camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io_->camera.set_payload_generator(source_->generator());
    stats_->on_device_made();
}

streaming_active_device::~streaming_active_device()
{
    {
        std::lock_guard lock(stream_lock_);
        close_stream_locked();
    }
    channel_.close();
    device_.reset();
    io_.reset();
    stats_->on_device_released();
}

cam::frame_input_format streaming_active_device::input_format() const
{
    const auto& c = options_.camera;
    return {img::fourcc("Y800"), static_cast<std::int32_t>(c.width), static_cast<std::int32_t>(c.height),
            static_cast<std::int32_t>(c.width), image_size(), 0};
}

HRESULT streaming_active_device::get_stream_format_desc(std::uint32_t buffer_size,
                                                        DShowDeviceServer_StreamFormatInfo* formats,
                                                        std::uint32_t* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    if (formats == nullptr || buffer_size < 1) {
        return insufficient_buffer;
    }
    formats[0] = {};
    formats[0].StreamFormatInfoId = format_id;
    formats[0].MediaTypeFourCC = img::fourcc("Y800");
    formats[0].BitsPerPixel = 8;
    formats[0].MaxDim = {static_cast<LONG>(options_.camera.width), static_cast<LONG>(options_.camera.height)};
    formats[0].MinDim = formats[0].MaxDim;
    return S_OK;
}

HRESULT streaming_active_device::get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format,
                                                               std::uint64_t* intervals, std::uint32_t buffer_size,
                                                               std::uint32_t* count)
{
    if (format == nullptr || count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    if (intervals == nullptr || buffer_size < 1) {
        return insufficient_buffer;
    }
    const std::uint32_t fps = options_.camera.frames_per_second;
    intervals[0] = fps == 0 ? 0 : 10'000'000u / fps;
    return S_OK;
}

HRESULT streaming_active_device::create_stream_channel(const DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    if (busy_.exchange(true)) {
        return E_ACCESSDENIED;
    }
    ++stats_->prepare_stream_calls;
    if (format->StreamFormatInfoId != format_id) {
        busy_ = false;
        return E_INVALIDARG;
    }
    std::lock_guard lock(stream_lock_);
    auto pipe = nox_um::open_endpoint_pipe(*device_, 0x81);
    if (!pipe) {
        busy_ = false;
        return E_FAIL;
    }
    const bool full_frames = options_.camera.transfer_size == 0;
    stream_ = std::make_unique<cam::pipe_frame_stream>(
        pipe, static_cast<cam::frame_path_host&>(*this), full_frames ? cam::frame_transfer_mode::full_frame : cam::frame_transfer_mode::payload);
    if (!full_frames) {
        stream_->frames().prepare_transfer_buffers(options_.transfer_buffers, options_.camera.transfer_size);
    }
    // Room beyond the image (and its payload header in full-frame mode).
    cam::frame_reassembly* frames = &stream_->frames();
    if (channel_.open(image_size() + 512, [frames](cam::frame_wrapper* b) { frames->return_frame(b); })) {
        stream_.reset();
        busy_ = false;
        return insufficient_buffer;
    }
    selected_ = true;
    channel_.hand_all_buffers_out();
    return S_OK;
}

void streaming_active_device::close_stream_locked()
{
    if (stream_) {
        stream_->stop();
        stream_->frames().release_stream();
    }
    channel_.clear();
    stream_.reset();
}

HRESULT streaming_active_device::close_stream_channel()
{
    {
        std::lock_guard lock(stream_lock_);
        close_stream_locked();
        busy_ = false;
    }
    ++stats_->close_stream_calls; // counted once the channel is gone
    return S_OK;
}

HRESULT streaming_active_device::get_stream_format_current(DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stream_lock_);
    if (!selected_) {
        return no_format_selected;
    }
    *format = {};
    format->StreamFormatInfoId = format_id;
    format->Dimension = {static_cast<LONG>(options_.camera.width), static_cast<LONG>(options_.camera.height)};
    return S_OK;
}

HRESULT streaming_active_device::start_stream()
{
    std::lock_guard lock(stream_lock_);
    if (!stream_) {
        return E_FAIL;
    }
    const std::error_code ec = stream_->start();
    return ec ? HRESULT_FROM_WIN32(ec.value()) : S_OK;
}

HRESULT streaming_active_device::pause_stream()
{
    std::lock_guard lock(stream_lock_);
    if (stream_) {
        stream_->stop();
    }
    return S_OK;
}

HRESULT streaming_active_device::get_base_data(void* block)
{
    return channel_.write_base_data(block);
}

HRESULT streaming_active_device::get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id)
{
    return channel_.write_frame_info(index, block, frame_id);
}

HRESULT streaming_active_device::get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters)
{
    return channel_.take_ready_frame(frame_id, counters);
}

HRESULT streaming_active_device::release_frame(std::uint64_t frame_id)
{
    return channel_.give_back(frame_id);
}

cam::stream_format streaming_active_device::get_stream_format()
{
    return {img::fourcc("Y800"), static_cast<std::int32_t>(options_.camera.width),
            static_cast<std::int32_t>(options_.camera.height), image_size()};
}

} // namespace fake_devices
