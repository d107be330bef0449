#include "service/active_device_handle.h"

#include <system_error>
#include <utility>

#include "gen_utils/log.h"
#include "service/active_device_list.h"

namespace cam_service {

namespace {
constexpr std::uint32_t ks_call_trace = logging::level_ks_trace | logging::cat_ks_calls;

struct named_set {
    GUID guid;
    const char* name;
};
// Searched in order; the names serve the log only.
constexpr named_set known_sets[] = {
    {{0xbf3ec69e, 0x94fc, 0x4847, {0x8d, 0xb0, 0xf5, 0x63, 0x6f, 0x7b, 0xe6, 0x39}}, "PROPSETID_KYV_BINNING"},
    {{0x515e97d1, 0xc453, 0x4772, {0xa4, 0x89, 0xcc, 0x07, 0x0a, 0x5a, 0x24, 0x42}}, "PROPSETID_FWCAM1394_CUSTOM_PROP"},
    {{0x8e4deef8, 0xb53b, 0x4a30, {0xb9, 0xb6, 0xaf, 0xbb, 0xcb, 0xd1, 0x82, 0xb4}}, "PROPSETID_DRIVER_INFO_REQ"},
    {{0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}}, "PROPSETID_VIDCAP_VIDEOPROCAMP"},
    {{0xc6e13370, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}}, "PROPSETID_VIDCAP_CAMERACONTROL"},
    {{0x8cbcf1c6, 0x53c3, 0x4d79, {0x8e, 0xdb, 0xc0, 0x64, 0x65, 0x75, 0xda, 0xc8}}, "PROPSETID_COLOR_ENHANCE"},
    {{0x9ddd5edc, 0x5eff, 0x4d3b, {0xb8, 0x5b, 0x46, 0xfb, 0xc4, 0xe4, 0x9e, 0x59}},
     "PROPSETID_GENERIC_DRIVER_INTERFACE"},
    {{0x17b1576b, 0x4b1b, 0x4e5b, {0xa6, 0x77, 0xea, 0x9f, 0x62, 0x03, 0x37, 0x27}}, "PROPSETID_KYV_CUSTOM_PROP"},
    {{0x4cb0d141, 0x9c2c, 0x49e5, {0x90, 0x05, 0xd7, 0xc0, 0x38, 0x2f, 0xd9, 0xd2}}, "PROPSETID_UVC_DRIVER"},
    {{0x272778fd, 0x21cb, 0x4d3c, {0x80, 0x37, 0x9f, 0x20, 0xc4, 0xe6, 0xd1, 0x6d}}, "PROPSETID_GIGECAM_CUSTOM_PROP"},
};

std::uint32_t hr_bits(HRESULT hr) noexcept
{
    return static_cast<std::uint32_t>(hr);
}
} // namespace

std::string property_set_name(const GUID& property_set)
{
    for (const auto& known : known_sets) {
        if (IsEqualGUID(known.guid, property_set)) {
            return known.name;
        }
    }
    return win32::guid_to_string(property_set);
}

active_device_handle::active_device_handle(std::shared_ptr<active_device_base> device, const GUID& device_id,
                                           std::weak_ptr<active_device_list> owner)
    : device_(std::move(device)), device_id_(device_id), owner_(std::move(owner))
{
    event_name_ = win32::make_unique_global_name(win32::guid_to_wstring(device_id_));
    auto security = win32::make_world_access_security_attributes();
    event_.reset(CreateEventW(security.get(), TRUE, FALSE, event_name_.c_str()));
    if (!event_) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Failed to create named_event");
    }
}

active_device_handle::~active_device_handle()
{
    std::shared_ptr<active_device_base> device;
    {
        std::lock_guard lock(mutex_);
        device.swap(device_);
    }
    if (device) {
        try {
            if (auto owner = owner_.lock()) {
                owner->make_idle(device_id_, device.get());
            }
        } catch (...) {
            // The camera is released below instead of waiting idle.
        }
    }
}

std::shared_ptr<active_device_base> active_device_handle::device() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

void active_device_handle::invalidate() noexcept
{
    SetEvent(event_.get());
    std::shared_ptr<active_device_base> device;
    {
        std::lock_guard lock(mutex_);
        device.swap(device_);
    }
}

} // namespace cam_service

namespace cam_service {

HRESULT active_device_handle::set(const GUID* property_set, std::uint32_t id, void* instance,
                                  std::uint32_t instance_size, void* data, std::uint32_t data_size)
{
    const auto camera = device();
    if (!camera) {
        return device_gone;
    }
    if (property_set == nullptr) {
        return E_POINTER;
    }
    const HRESULT hr = camera->set_property(property_set, id, instance, instance_size, data, data_size);
    if (log_enabled(ks_call_trace)) {
        log_line(ks_call_trace, "[CamTovra] Set( {}, {}, ... ) -> hr = {:#x}\n", property_set_name(*property_set), id,
                 hr_bits(hr));
    }
    return hr;
}

HRESULT active_device_handle::get(const GUID* property_set, std::uint32_t id, void* instance,
                                  std::uint32_t instance_size, void* data, std::uint32_t data_size,
                                  std::uint32_t* returned)
{
    const auto camera = device();
    if (!camera) {
        return device_gone;
    }
    if (property_set == nullptr) {
        return E_POINTER;
    }
    const HRESULT hr = camera->get_property(property_set, id, instance, instance_size, data, data_size, returned);
    if (log_enabled(ks_call_trace)) {
        log_line(ks_call_trace, "[CamTovra] Get( {}, {}, ... ) -> hr = {:#x}\n", property_set_name(*property_set), id,
                 hr_bits(hr));
    }
    return hr;
}

HRESULT active_device_handle::query_supported(const GUID* property_set, std::uint32_t id,
                                              std::uint32_t* type_support)
{
    const auto camera = device();
    if (!camera) {
        return device_gone;
    }
    if (property_set == nullptr) {
        return E_POINTER;
    }
    const HRESULT hr = camera->query_property_support(property_set, id, type_support);
    if (log_enabled(ks_call_trace)) {
        log_line(ks_call_trace, "[CamTovra] QuerySupported( {}, {}, ... ) -> hr = {:#x}\n",
                 property_set_name(*property_set), id, hr_bits(hr));
    }
    return hr;
}

HRESULT active_device_handle::close_stream_channel()
{
    const auto camera = device();
    return camera ? camera->close_stream_channel() : device_gone;
}

HRESULT active_device_handle::get_base_data(void* block)
{
    const auto camera = device();
    return camera ? camera->get_base_data(block) : device_gone;
}

HRESULT active_device_handle::get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id)
{
    const auto camera = device();
    return camera ? camera->get_frame_info(index, block, frame_id) : device_gone;
}

} // namespace cam_service
