#include "device_impl/camtovra/device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <system_error>

#include <gsl/util>

#include "device_impl/camtovra/info_replies.h"
#include "device_impl/device_impl_tools/propset.h"
#include "device_impl/image/image_format.h"
#include "device_impl/u3v/manifest_fetch.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/file_version.h"
#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"

namespace camtovra {

namespace {

constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007A);
constexpr HRESULT no_format_selected = static_cast<HRESULT>(0x80070490);
constexpr std::uint32_t support_get = 1;
constexpr std::uint32_t support_get_set = 3;
constexpr std::uint32_t range_record_size = 20;
constexpr std::uint32_t value_record_size = 40;

static_assert(sizeof(cam::stream_format_info) == sizeof(DShowDeviceServer_StreamFormatInfo));
static_assert(sizeof(cam::frame_counts) == sizeof(DShowDeviceServer_FrameCountInfo));
static_assert(sizeof(cam::device_information) <= device::camera_info_size);

void set_returned(std::uint32_t* returned, std::uint32_t bytes)
{
    if (returned != nullptr) {
        *returned = bytes;
    }
}

std::shared_ptr<nox_um::usb_device_handle> open_device(const std::wstring& path, nox_um::driver_io& io)
{
    auto file = nox_um::usb_device_handle::open(path, io);
    if (!file) {
        throw std::system_error(file.error(), "Failed to open nox_um device");
    }
    return std::make_shared<nox_um::usb_device_handle>(std::move(file).value(), path);
}

} // namespace

device::device(const GUID& device_id, const std::wstring& path, std::shared_ptr<utils::property_store_itf> store,
               nox_um::driver_io& io)
    : channel_(win32::guid_to_wstring(device_id)), usb_device_(open_device(path, io)), store_(std::move(store))
{
    if (log_enabled(logging::level_ks_trace)) {
        try {
            const auto& descriptor = usb_device_->get_device_descriptor();
            log_line(logging::level_ks_trace,
                     "[CamTovra] Vendor=0x{:x}, ProdId=0x{:x} using tovra camera device instance.\n",
                     descriptor[8] | descriptor[9] << 8, descriptor[10] | descriptor[11] << 8);
        } catch (const std::system_error& e) {
            log_line(logging::level_error, "[CamTovra] device::device, {}.\n", e.what());
        }
    }
    camera_ = std::make_shared<camera_type>(cam::camera_creation{usb_device_, this, store_});
    if (const std::error_code ec = camera_->init_device()) {
        log_line(logging::level_error, "[CamTovra] Failed to attach to device due to : {}\n", ec.message());
        if (u3v_com::fetch_budget_spent(ec, cam_error_category())) {
            // Its GenICam file did not arrive in time: the open fails as a
            // whole, and nothing of this camera is kept for reuse.
            camera_->unload();
            camera_.reset();
            usb_device_->close();
            throw std::system_error(ec, "camtovra::device::device, the camera's GenICam file did not arrive in time");
        }
    }
}

device::~device()
{
    camera_->unload();
    {
        std::lock_guard lock(stream_lock_);
        camera_->release_stream();
    }
    store_.reset();
    camera_.reset();
    usb_device_->close();
    usb_device_.reset();
    channel_.close();
}

// -------- property requests

HRESULT device::set_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                             void* data, std::uint32_t data_size)
{
    if (set == nullptr) {
        return E_POINTER;
    }
    if (cam::is_standard_video_set(*set)) {
        return set_standard_video(*set, id, instance, instance_size, data, data_size);
    }
    return cam::to_hresult(camera_->set_request(*set, id, instance, instance_size, data, data_size));
}

HRESULT device::get_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                             void* data, std::uint32_t data_size, std::uint32_t* returned)
{
    if (set == nullptr) {
        return E_POINTER;
    }
    if (cam::is_standard_video_set(*set)) {
        return get_standard_video(*set, id, instance, instance_size, data, data_size, returned);
    }
    if (cam::same_guid(*set, cam::PROPSETID_DRIVER_INFO_REQ)) {
        return get_driver_info(id, data, data_size, returned);
    }
    if (cam::same_guid(*set, cam::PROPSETID_KYV_CUSTOM_PROP)) {
        return get_kyv_info(id, data, data_size, returned);
    }
    std::uint32_t bytes = 0;
    const std::error_code ec = camera_->get_request(*set, id, instance, instance_size, data, data_size, &bytes, 0);
    set_returned(returned, bytes);
    return cam::to_hresult(ec);
}

HRESULT device::query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support)
{
    if (set == nullptr || support == nullptr) {
        return E_POINTER;
    }
    if (cam::same_guid(*set, cam::PROPSETID_DRIVER_INFO_REQ)) {
        if (id > 1) {
            return E_NOTIMPL;
        }
        *support = support_get;
        return S_OK;
    }
    if (cam::same_guid(*set, cam::PROPSETID_KYV_CUSTOM_PROP)) {
        if (kyv_reply_size(id) == 0) {
            return E_NOTIMPL;
        }
        *support = support_get;
        return S_OK;
    }
    if (!camera_->is_supported({*set, id})) {
        return E_NOTIMPL;
    }
    *support = support_get_set;
    return S_OK;
}

// The standard sets travel as a 48-byte range-and-value record; the handlers
// answer a 20-byte range record and a 40-byte value record, each asked under
// the camera's request lock on its own.
HRESULT device::get_standard_video(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                   void* data, std::uint32_t data_size, std::uint32_t* returned)
{
    if (data_size < range_and_value_size) {
        set_returned(returned, range_and_value_size);
        return E_INVALIDARG;
    }
    if (data == nullptr) {
        return E_POINTER;
    }
    std::array<std::uint8_t, range_record_size> range{};
    std::array<std::uint8_t, value_record_size> value{};
    std::uint32_t bytes = 0;
    if (const std::error_code ec = camera_->get_request(set, id, instance, instance_size, range.data(),
                                                        range_record_size, &bytes, KsPropDataRequest::query_range)) {
        return cam::to_hresult(ec);
    }
    if (const std::error_code ec = camera_->get_request(set, id, instance, instance_size, value.data(),
                                                        value_record_size, &bytes, 0)) {
        return cam::to_hresult(ec);
    }
    auto* out = static_cast<std::uint8_t*>(data);
    std::memcpy(out + 24, value.data() + 24, 8);  // value, flags
    std::memcpy(out + 32, range.data() + 16, 4);  // capabilities
    std::memcpy(out + 36, range.data(), 12);      // minimum, maximum, default
    set_returned(returned, range_and_value_size);
    return S_OK;
}

HRESULT device::set_standard_video(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                   void* data, std::uint32_t data_size)
{
    if (data_size < range_and_value_size) {
        return E_INVALIDARG;
    }
    if (data == nullptr) {
        return E_POINTER;
    }
    std::array<std::uint8_t, value_record_size> value{};
    std::memcpy(value.data() + 24, static_cast<const std::uint8_t*>(data) + 24, 8);
    return cam::to_hresult(
        camera_->set_request(set, id, instance, instance_size, value.data(), value_record_size));
}

HRESULT device::get_driver_info(std::uint32_t id, void* data, std::uint32_t data_size, std::uint32_t* returned)
{
    if (id > 1) {
        return E_NOTIMPL;
    }
    const std::uint32_t needed = id == 0 ? service_info_size : camera_info_size;
    if (data_size < needed) {
        set_returned(returned, needed);
        return E_INVALIDARG;
    }
    if (data == nullptr) {
        return E_POINTER;
    }
    auto* out = static_cast<std::uint8_t*>(data);
    if (id == 0) {
        write_service_info({out, needed}, utils::get_module_file_version().packed());
    } else {
        cam::device_information info;
        if (const std::error_code ec = camera_->read_device_information(info)) {
            return cam::to_hresult(ec);
        }
        std::memset(out, 0, needed);
        std::memcpy(out, &info, sizeof(info));
    }
    set_returned(returned, needed);
    return S_OK;
}

HRESULT device::get_kyv_info(std::uint32_t id, void* data, std::uint32_t data_size, std::uint32_t* returned)
{
    const std::uint32_t needed = kyv_reply_size(id);
    if (needed == 0) {
        return E_NOTIMPL;
    }
    if (data_size < needed) {
        set_returned(returned, needed);
        return E_INVALIDARG;
    }
    if (data == nullptr) {
        return E_POINTER;
    }
    cam::device_information info;
    std::uint16_t product_id = 0;
    if (id == kyv_manufacturer_id || id == kyv_product_id) {
        if (const std::error_code ec = camera_->read_device_information(info)) {
            return cam::to_hresult(ec);
        }
    } else if (id == kyv_usb_id) {
        // A fresh copy: the handle's cached descriptor is rewritten by every
        // other reader.
        auto descriptor = usb_device_->get_descriptor(noxkm::descriptor_device, 0, 0, 18);
        if (!descriptor) {
            return cam::to_hresult(descriptor.error());
        }
        const auto& bytes = descriptor.value();
        if (bytes.size() >= 12) {
            product_id = static_cast<std::uint16_t>(bytes[10] | bytes[11] << 8);
        }
    }
    write_kyv_reply(id, info, product_id, {static_cast<std::uint8_t*>(data), needed});
    set_returned(returned, needed);
    return S_OK;
}

// -------- stream formats

HRESULT device::get_stream_format_desc(std::uint32_t buffer_size, DShowDeviceServer_StreamFormatInfo* formats,
                                       std::uint32_t* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    const auto list = camera_->list_formats();
    if (list.empty()) {
        return E_FAIL;
    }
    const auto n = static_cast<std::uint32_t>(list.size());
    if (buffer_size < n) {
        *count = n;
        return insufficient_buffer;
    }
    if (formats == nullptr) {
        return E_POINTER;
    }
    std::memcpy(formats, list.data(), list.size() * sizeof(DShowDeviceServer_StreamFormatInfo));
    *count = n;
    return S_OK;
}

HRESULT device::get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format, std::uint64_t* intervals,
                                              std::uint32_t buffer_size, std::uint32_t* count)
{
    if (format == nullptr || count == nullptr) {
        return E_POINTER;
    }
    auto values = camera_->get_frame_intervals(format->StreamFormatInfoId);
    if (!values) {
        return cam::to_hresult(values.error());
    }
    const auto& list = values.value();
    if (list.empty()) {
        return E_INVALIDARG;
    }
    const auto n = static_cast<std::uint32_t>(list.size());
    *count = n;
    if (intervals == nullptr || buffer_size < n) {
        return insufficient_buffer;
    }
    std::copy(list.begin(), list.end(), intervals);
    return S_OK;
}

HRESULT device::get_stream_format_current(DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stream_lock_);
    if (!format_selected_) {
        return no_format_selected;
    }
    *format = selected_format_;
    return S_OK;
}

cam::stream_format device::get_stream_format()
{
    return camera_->current_stream_format();
}

// -------- stream channel

HRESULT device::create_stream_channel(const DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    if (busy_.exchange(true)) {
        return E_ACCESSDENIED;
    }
    // Whatever way this ends short of an open channel (an error, or a throw
    // from an allocation or the channel's lock), the device is free again.
    bool opened = false;
    const auto free_unless_opened = gsl::finally([&] {
        if (!opened) {
            busy_ = false;
        }
    });
    try {
        const HRESULT hr = open_stream_channel(*format);
        opened = SUCCEEDED(hr);
        return hr;
    } catch (const std::bad_alloc&) {
        log_line(logging::level_error, "[CamTovra] device::create_stream_channel, out of memory.\n");
        return E_OUTOFMEMORY;
    } catch (const std::system_error& e) {
        log_line(logging::level_error, "[CamTovra] device::create_stream_channel, {}.\n", e.what());
        return cam::to_hresult(e.code());
    }
}

HRESULT device::open_stream_channel(const DShowDeviceServer_StreamFormat& format)
{
    // The camera takes the frame interval as 32 bits: a longer one cut down
    // would ask for another rate than the client's.
    if (format.AverageTimePerFrame > std::numeric_limits<std::uint32_t>::max()) {
        log_line(logging::level_error,
                 "[CamTovra] camtovra::device::create_stream_channel, AverageTimePerFrame={} does not fit the "
                 "camera's 32-bit frame interval.\n",
                 format.AverageTimePerFrame);
        return E_INVALIDARG;
    }
    const auto list = camera_->list_formats();
    const auto entry = std::find_if(list.begin(), list.end(), [&](const cam::stream_format_info& f) {
        return f.StreamFormatInfoId == format.StreamFormatInfoId;
    });
    if (entry == list.end()) {
        return E_INVALIDARG;
    }
    const cam::stream_format wanted{
        entry->MediaTypeFourCC, format.Dimension.cx, format.Dimension.cy,
        img::image_buffer_size(entry->MediaTypeFourCC, format.Dimension.cx, format.Dimension.cy)};

    std::lock_guard lock(stream_lock_);
    // A throw after the stream was selected must not leave it selected: its
    // pipe would refuse every later start.
    bool channel_ready = false;
    const auto release_unless_ready = gsl::finally([&] {
        if (!channel_ready) {
            camera_->release_stream();
        }
    });
    if (const std::error_code ec = camera_->try_start(wanted, format.AverageTimePerFrame)) {
        return cam::to_hresult(ec);
    }
    camera_type* camera = camera_.get();
    const std::error_code opened = channel_.open(camera_->required_frame_buffer_size(),
                                                 [camera](cam::frame_wrapper* buffer) { camera->return_frame(buffer); });
    if (opened) {
        log_line(logging::level_error, "[CamTovra] device::create_stream_channel, failed to open the channel: {}.\n",
                 opened.message());
        return insufficient_buffer;
    }
    channel_.hand_all_buffers_out();
    // What the camera committed, which may differ from what was asked (a
    // camera answers the probe with the nearest interval it supports).
    const cam::stream_format current = camera_->current_stream_format();
    selected_format_ = format;
    selected_format_.Dimension = {current.width, current.height};
    selected_format_.AverageTimePerFrame = camera_->committed().frame_interval();
    format_selected_ = true;
    channel_ready = true;
    return S_OK;
}

HRESULT device::close_stream_channel()
{
    {
        std::lock_guard lock(stream_lock_);
        camera_->release_stream();
        channel_.clear();
    }
    busy_ = false;
    return S_OK;
}

HRESULT device::start_stream()
{
    std::lock_guard lock(stream_lock_);
    if (!camera_->streaming()) {
        // Frames that waited through the pause are of the run before it:
        // after the start the client gets the new run's frames only, whose
        // numbers start again. Nothing is delivered while paused, so none
        // can slip in behind this.
        channel_.discard_ready();
    }
    return cam::to_hresult(camera_->start_streaming());
}

HRESULT device::pause_stream()
{
    std::lock_guard lock(stream_lock_);
    return cam::to_hresult(camera_->stop_streaming());
}

HRESULT device::get_base_data(void* block)
{
    return channel_.write_base_data(block);
}

HRESULT device::get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id)
{
    return channel_.write_frame_info(index, block, frame_id);
}

HRESULT device::get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters)
{
    return channel_.take_ready_frame(frame_id, counters);
}

HRESULT device::release_frame(std::uint64_t frame_id)
{
    return channel_.give_back(frame_id);
}

// -------- frame sink

void device::update_frame_counts(const cam::frame_counts& counts)
{
    channel_.update_frame_counts(counts);
}

bool device::deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts)
{
    return channel_.write(frame, counts);
}

void device::stream_failed()
{
    log_line(logging::level_error,
             "[CamTovra] camtovra::device::stream_failed, the stream ended as a device error; its clients are told "
             "as of a lost camera.\n");
    std::lock_guard lock(listener_lock_);
    if (error_listener_) {
        error_listener_();
    }
}

void device::set_device_error_listener(const void* owner, std::function<void()> listener)
{
    std::lock_guard lock(listener_lock_);
    if (!listener && owner != listener_owner_) {
        return;
    }
    error_listener_ = std::move(listener);
    listener_owner_ = error_listener_ ? owner : nullptr;
}

} // namespace camtovra
