#pragma once
// A client's share of an open camera: the camera itself (until the handle is
// invalidated) and a named manual-reset event that is set when the camera goes
// away, so that clients in other processes learn of it. One handle per open
// camera at a time, shared by all COM objects that use it.

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "gen_utils/win32_utils.h"

namespace cam_service {

class active_device_list;

class active_device_handle {
public:
    // Creates the device-lost event "Global\<device GUID><fresh GUID>" with
    // world access. Throws std::system_error "Failed to create named_event".
    // When the last holder lets go while the camera is still held, the camera
    // goes back to `owner` to wait for its idle timeout.
    active_device_handle(std::shared_ptr<active_device_base> device, const GUID& device_id,
                         std::weak_ptr<active_device_list> owner);
    ~active_device_handle();
    active_device_handle(const active_device_handle&) = delete;
    active_device_handle& operator=(const active_device_handle&) = delete;

    // A counted copy of the camera; empty once the handle is invalidated.
    std::shared_ptr<active_device_base> device() const;
    // Sets the device-lost event, then lets go of the camera.
    void invalidate() noexcept;

    const GUID& device_id() const noexcept { return device_id_; }
    const std::wstring& event_name() const noexcept { return event_name_; }
    HANDLE event() const noexcept { return event_.get(); }

private:
    win32::unique_handle event_;
    std::wstring event_name_;
    mutable std::mutex mutex_; // guards device_
    std::shared_ptr<active_device_base> device_;
    GUID device_id_;
    std::weak_ptr<active_device_list> owner_;
};

} // namespace cam_service
