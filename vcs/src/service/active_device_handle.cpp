#include "service/active_device_handle.h"

#include <sddl.h>

#include <system_error>
#include <utility>

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"
#include "gen_utils/log.h"
#include "service/active_device_list.h"

namespace cam_service {

namespace {
constexpr std::uint32_t ks_call_trace = logging::level_ks_trace | logging::cat_ks_calls;

std::uint32_t hr_bits(HRESULT hr) noexcept
{
    return static_cast<std::uint32_t>(hr);
}

// Clients only wait on the device-lost event: local users get SYNCHRONIZE and
// READ_CONTROL (0x00120000), so no client can tear down every other client
// of a camera by setting it or hide a real loss by resetting it. Only the
// service (SYSTEM, or an administrator running it by hand) may change it.
constexpr wchar_t lost_event_sddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00120000;;;S-1-2-0)";

struct lost_event_security {
    SECURITY_ATTRIBUTES attributes{};
    std::unique_ptr<void, decltype(&LocalFree)> descriptor{nullptr, &LocalFree};
};

lost_event_security make_lost_event_security()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(lost_event_sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Failed to create named_event");
    }
    lost_event_security result;
    result.descriptor.reset(descriptor);
    result.attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    result.attributes.lpSecurityDescriptor = descriptor;
    result.attributes.bInheritHandle = FALSE;
    return result;
}
} // namespace

std::string property_set_name(const GUID& property_set)
{
    for (const auto& known : cam::known_property_sets()) {
        if (cam::same_guid(known.guid, property_set)) {
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
    auto security = make_lost_event_security();
    event_.reset(CreateEventW(&security.attributes, TRUE, FALSE, event_name_.c_str()));
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
            device->set_device_error_listener(this, nullptr); // the event closes with this handle
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
    if (device) {
        try {
            device->set_device_error_listener(this, nullptr);
        } catch (...) {
            // The lock of the camera failed: it is released below all the same.
        }
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

HRESULT active_device_handle::create_stream_channel(DShowDeviceServer_StreamFormat* format)
{
    const auto camera = device();
    // A lost handle may be shared still by the clients it told, while a later
    // client streams the same camera through a handle of its own.
    if (!camera || lost()) {
        return device_gone;
    }
    if (const HRESULT hr = camera->create_stream_channel(format); FAILED(hr)) {
        return hr;
    }
    {
        // A stream that ends as a device error reaches the clients as a loss
        // does: through this event, which they wait on beside their frames.
        std::lock_guard lock(mutex_);
        if (device_ == camera) {
            camera->set_device_error_listener(this, [event = event_.get()] { SetEvent(event); });
            return S_OK;
        }
    }
    // Invalidated while the channel was prepared: nobody would hear of it.
    camera->close_stream_channel();
    return device_gone;
}

HRESULT active_device_handle::close_stream_channel()
{
    const auto camera = device();
    if (!camera) {
        return device_gone;
    }
    camera->set_device_error_listener(this, nullptr);
    return camera->close_stream_channel();
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
