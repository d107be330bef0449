#include "service/active_device_handle.h"

#include <system_error>
#include <utility>

#include "service/active_device_list.h"

namespace cam_service {

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
