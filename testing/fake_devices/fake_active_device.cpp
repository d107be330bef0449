#include "fake_active_device.h"

#include <cstring>

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

fake_active_device::fake_active_device(const GUID& device_id, std::shared_ptr<device_stats> stats)
    : device_id_(device_id), stats_(std::move(stats))
{
    stats_->on_device_made();
}

fake_active_device::~fake_active_device()
{
    stats_->on_device_released();
}

HRESULT fake_active_device::set_property(const GUID* set, std::uint32_t id, void*, std::uint32_t, void* data,
                                         std::uint32_t data_size)
{
    if (set == nullptr || (data == nullptr && data_size != 0)) {
        return E_POINTER;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::lock_guard lock(mutex_);
    values_[{*set, id}].assign(bytes, bytes + data_size);
    return S_OK;
}

HRESULT fake_active_device::get_property(const GUID* set, std::uint32_t id, void*, std::uint32_t, void* data,
                                         std::uint32_t data_size, std::uint32_t* returned)
{
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

HRESULT fake_active_device::get_stream_format_desc(std::uint32_t, DShowDeviceServer_StreamFormatInfo*,
                                                   std::uint32_t* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT fake_active_device::get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat*, std::uint64_t*,
                                                          std::uint32_t, std::uint32_t* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT fake_active_device::create_stream_channel(const DShowDeviceServer_StreamFormat* format)
{
    if (format == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    channel_open_ = true;
    return S_OK;
}

HRESULT fake_active_device::close_stream_channel()
{
    ++stats_->close_stream_calls;
    std::lock_guard lock(mutex_);
    channel_open_ = false;
    return S_OK;
}

HRESULT fake_active_device::get_stream_format_current(DShowDeviceServer_StreamFormat*)
{
    return E_NOTIMPL;
}

HRESULT fake_active_device::start_stream()
{
    std::lock_guard lock(mutex_);
    return channel_open_ ? S_OK : E_FAIL;
}

HRESULT fake_active_device::pause_stream()
{
    return S_OK;
}

HRESULT fake_active_device::get_base_data(void*)
{
    return E_NOTIMPL;
}

HRESULT fake_active_device::get_frame_info(std::uint32_t, void*, std::uint64_t*)
{
    return E_NOTIMPL;
}

HRESULT fake_active_device::get_ready_frame(std::uint64_t*, DShowDeviceServer_FrameCountInfo*)
{
    return S_FALSE;
}

HRESULT fake_active_device::release_frame(std::uint64_t)
{
    return S_OK;
}

cam::stream_format fake_active_device::get_stream_format()
{
    return {};
}

} // namespace fake_devices
