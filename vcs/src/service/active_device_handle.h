#pragma once
// A client's share of an open camera: the camera itself (until the handle is
// invalidated) and a named manual-reset event that is set when the camera goes
// away, so that clients in other processes learn of it. One handle per open
// camera at a time, shared by all COM objects that use it.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "gen_utils/win32_utils.h"

namespace cam_service {

class active_device_list;

// HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED): the camera behind an object is gone.
inline constexpr HRESULT device_gone = static_cast<HRESULT>(0x80070651);

// Name of a KS property set for log lines: one of the known sets, otherwise
// the GUID in registry form.
std::string property_set_name(const GUID& property_set);

class active_device_handle {
public:
    // Creates the device-lost event "Global\<device GUID><fresh GUID>": local
    // users may wait on it and read its access list, only SYSTEM and the
    // Administrators may set or reset it. Throws std::system_error "Failed
    // to create named_event".
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

    // KS property requests, passed to the camera unchanged. 0x80070651 once
    // the camera is gone, E_POINTER without a property set. Each call is
    // traced at level 4 in the category of KS calls.
    HRESULT set(const GUID* property_set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                std::uint32_t data_size);
    HRESULT get(const GUID* property_set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                std::uint32_t data_size, std::uint32_t* returned);
    HRESULT query_supported(const GUID* property_set, std::uint32_t id, std::uint32_t* type_support);

    // Prepares the camera's stream channel for `format` and makes this handle
    // the one its stream's device errors are told to, until the channel
    // closes: a failure reaches the clients whose channel streamed and no
    // later client of the camera. 0x80070651 once the camera is gone or the
    // handle is lost (a client told of a loss opens the camera anew); the
    // camera's own refusal otherwise (a channel already open: E_ACCESSDENIED).
    HRESULT create_stream_channel(DShowDeviceServer_StreamFormat* format);
    // Stream-channel operations of the camera; 0x80070651 once it is gone.
    // Closing the channel also ends this handle's hearing of stream errors.
    HRESULT close_stream_channel();
    HRESULT get_base_data(void* block);
    HRESULT get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id);

    // True once the event is set: the camera's stream ended as a device error
    // or the handle was invalidated. Nothing resets the event, so a lost
    // handle is never handed to a client that opens the camera later.
    bool lost() const noexcept { return WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0; }

    const GUID& device_id() const noexcept { return device_id_; }
    const std::wstring& event_name() const noexcept { return event_name_; }
    HANDLE event() const noexcept { return event_.get(); }

private:
    win32::unique_handle event_;
    std::wstring event_name_;
    // Guards device_; held while this handle becomes the camera's error
    // listener, so that an invalidation either precedes it or removes it.
    mutable std::mutex mutex_;
    std::shared_ptr<active_device_base> device_;
    GUID device_id_;
    std::weak_ptr<active_device_list> owner_;
};

} // namespace cam_service
