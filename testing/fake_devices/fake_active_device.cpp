#include "fake_active_device.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "camtovra_service.h"

namespace fake_devices {

namespace {
constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007A);
constexpr std::uint32_t support_get_set = 3;
} // namespace

bool fake_active_device::key_less::operator()(const property_key& a, const property_key& b) const noexcept
{
    const int order = std::memcmp(&a.first, &b.first, sizeof(GUID));
    return order != 0 ? order < 0 : a.second < b.second;
}

fake_active_device::fake_active_device(const GUID& device_id, std::shared_ptr<device_stats> stats,
                                       std::shared_ptr<request_registry> requests)
    : device_id_(device_id), stats_(std::move(stats)), requests_(std::move(requests))
{
    // As a camera does once its handlers are in place, and again when it unloads.
    if (requests_) {
        std::lock_guard lock(requests_->request_mutex());
        requests_->load_values();
    }
    stats_->on_device_made();
}

fake_active_device::~fake_active_device()
{
    if (requests_) {
        std::lock_guard lock(requests_->request_mutex());
        requests_->save_values();
    }
    stats_->on_device_released();
}

HRESULT fake_active_device::set_property(const GUID* set, std::uint32_t id, void* instance,
                                         std::uint32_t instance_size, void* data, std::uint32_t data_size)
{
    if (requests_) {
        return requests_->set_property(set, id, instance, instance_size, data, data_size);
    }
    if (set == nullptr || (data == nullptr && data_size != 0)) {
        return E_POINTER;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::lock_guard lock(mutex_);
    values_[{*set, id}].assign(bytes, bytes + data_size);
    return S_OK;
}

HRESULT fake_active_device::get_property(const GUID* set, std::uint32_t id, void* instance,
                                         std::uint32_t instance_size, void* data, std::uint32_t data_size,
                                         std::uint32_t* returned)
{
    if (requests_) {
        return requests_->get_property(set, id, instance, instance_size, data, data_size, returned);
    }
    if (set == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    const auto found = values_.find({*set, id});
    if (found == values_.end()) {
        return E_NOTIMPL;
    }
    const auto size = static_cast<std::uint32_t>(found->second.size());
    if (returned != nullptr) {
        *returned = size;
    }
    if (data == nullptr || data_size < size) {
        return insufficient_buffer;
    }
    std::memcpy(data, found->second.data(), size);
    return S_OK;
}

HRESULT fake_active_device::query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support)
{
    if (requests_) {
        return requests_->query_property_support(set, id, support);
    }
    if (set == nullptr || support == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    if (values_.count({*set, id}) == 0) {
        return E_NOTIMPL;
    }
    *support = support_get_set;
    return S_OK;
}

HRESULT fake_active_device::get_stream_format_desc(std::uint32_t buffer_size,
                                                   DShowDeviceServer_StreamFormatInfo* formats, std::uint32_t* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    constexpr std::uint32_t offered = 2;
    *count = offered;
    if (formats == nullptr || buffer_size < offered) {
        return insufficient_buffer;
    }
    for (std::uint32_t i = 0; i < offered; ++i) {
        formats[i] = {};
        formats[i].StreamFormatInfoId = i + 1;
        formats[i].MediaTypeFourCC = i == 0 ? 0x30303859u : 0x36315559u; // Y800, Y16
        formats[i].BitsPerPixel = i == 0 ? 8 : 16;
        formats[i].MaxDim = {640, 480};
    }
    return S_OK;
}

HRESULT fake_active_device::get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format,
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
    intervals[0] = 333333; // 30 frames a second
    return S_OK;
}

HRESULT fake_active_device::create_stream_channel(const DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    ++stats_->prepare_stream_calls;
    std::lock_guard lock(mutex_);
    // One channel at a time, as the camera has it.
    if (channel_open_) {
        return E_ACCESSDENIED;
    }
    if (format->StreamFormatInfoId == refused_format_id) {
        return E_INVALIDARG;
    }
    channel_open_ = true;
    current_format_id_ = format->StreamFormatInfoId;
    return S_OK;
}

HRESULT fake_active_device::close_stream_channel()
{
    ++stats_->close_stream_calls;
    std::lock_guard lock(mutex_);
    channel_open_ = false;
    streaming_ = false;
    return S_OK;
}

HRESULT fake_active_device::get_stream_format_current(DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    *format = {};
    format->StreamFormatInfoId = current_format_id_;
    format->Dimension = {640, 480};
    return S_OK;
}

HRESULT fake_active_device::start_stream()
{
    std::lock_guard lock(mutex_);
    if (!channel_open_) {
        return E_FAIL;
    }
    streaming_ = true;
    return S_OK;
}

HRESULT fake_active_device::pause_stream()
{
    std::lock_guard lock(mutex_);
    streaming_ = false;
    return S_OK;
}

void fake_active_device::set_unterminated_names(bool value)
{
    std::lock_guard lock(mutex_);
    unterminated_names_ = value;
}

void fake_active_device::queue_frame(std::uint64_t id)
{
    std::lock_guard lock(mutex_);
    ready_.push_back(id);
}

std::vector<std::uint64_t> fake_active_device::released_frames()
{
    std::lock_guard lock(mutex_);
    return released_;
}

bool fake_active_device::streaming()
{
    std::lock_guard lock(mutex_);
    return streaming_;
}

namespace {
// Writes `name` as zero-terminated UTF-16 into a 256-byte block, or fills the
// whole block with characters when `unterminated` is set.
void write_name(void* block, const std::wstring& name, bool unterminated)
{
    constexpr std::size_t chars = 128;
    auto* out = static_cast<wchar_t*>(block);
    if (unterminated) {
        for (std::size_t i = 0; i < chars; ++i) {
            out[i] = L'x';
        }
        return;
    }
    std::memcpy(out, name.c_str(), (std::min(name.size(), chars - 1)) * sizeof(wchar_t));
}
} // namespace

HRESULT fake_active_device::get_base_data(void* block)
{
    if (block == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    if (!channel_open_) {
        return E_FAIL;
    }
    write_name(block, L"Global\\fake_semaphore", unterminated_names_);
    std::memcpy(static_cast<unsigned char*>(block) + 256, &frame_count, sizeof(frame_count));
    return S_OK;
}

HRESULT fake_active_device::get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id)
{
    if (block == nullptr || frame_id == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    if (!channel_open_ || index >= frame_count) {
        return E_INVALIDARG;
    }
    write_name(block, L"Global\\fake_frame_" + std::to_wstring(index), unterminated_names_);
    *frame_id = 100 + index;
    return S_OK;
}

HRESULT fake_active_device::get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters)
{
    if (frame_id == nullptr || counters == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    *counters = {};
    if (ready_.empty()) {
        counters->frames_delivered = delivered_;
        return S_FALSE;
    }
    *frame_id = ready_.front();
    ready_.erase(ready_.begin());
    counters->frames_delivered = ++delivered_;
    return S_OK;
}

HRESULT fake_active_device::release_frame(std::uint64_t frame_id)
{
    std::lock_guard lock(mutex_);
    released_.push_back(frame_id);
    return S_OK;
}

void fake_active_device::fail_stream()
{
    {
        std::lock_guard lock(mutex_);
        streaming_ = false;
    }
    std::lock_guard lock(listener_lock_);
    if (error_listener_) {
        error_listener_();
    }
}

// As the active camera device keeps it: a null listener removes only the one
// `owner` set.
void fake_active_device::set_device_error_listener(const void* owner, std::function<void()> listener)
{
    std::lock_guard lock(listener_lock_);
    if (!listener && owner != listener_owner_) {
        return;
    }
    error_listener_ = std::move(listener);
    listener_owner_ = error_listener_ ? owner : nullptr;
}

cam::stream_format fake_active_device::get_stream_format()
{
    return {0x30303859u, 640, 480, 640 * 480};
}

} // namespace fake_devices
