#pragma once
// One opened camera as the service's active-device list holds it: the driver's
// device file, the camera object built on it, the two private property sets
// answered here, and the shared-memory frame channel through which the
// client's stream channel takes frames. It is also the camera's frame sink.
//
// Locks: the stream lock serialises channel creation, start, pause, close and
// destruction; property requests go to the camera, which serialises them with
// its request lock. The camera may take its request lock while the stream
// lock is held (acquisition commands), never the other way round. Frame
// delivery from the pipe's thread takes only the channel's mutex.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "camtovra_service.h"
#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "device_impl/device_impl_tools/frame_server_itf.h"
#include "device_impl/shm_channel/shared_memory_channel.h"
#include "device_impl/cam_tovra/cam_tovra.h"
#include "nox_um/driver_io.h"
#include "nox_um/usb_device_handle.h"

namespace camtovra {

// The camera object the device drives.
using camera_type = cam::impl::cam_tovra;

class device : public cam_service::active_device_base, public cam::frame_server_itf {
public:
    // Reply sizes of the private property sets.
    static constexpr std::uint32_t service_info_size = 144;
    static constexpr std::uint32_t camera_info_size = 424;
    static constexpr std::uint32_t kyv_info_size = 288;
    static constexpr std::uint32_t kyv_usb_info_size = 296;
    static constexpr std::uint32_t range_and_value_size = 48;

    // Opens `path` through `io` and attaches the camera. Throws
    // std::system_error "Failed to open nox_um device" when the file cannot
    // be opened; a camera that fails to attach is logged and kept.
    device(const GUID& device_id, const std::wstring& path, std::shared_ptr<utils::property_store_itf> store,
           nox_um::driver_io& io = nox_um::win32_driver_io());
    ~device() override;

    // -------- cam_service::active_device_base
    HRESULT set_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size) override;
    HRESULT get_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size, std::uint32_t* returned) override;
    HRESULT query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support) override;
    HRESULT get_stream_format_desc(std::uint32_t buffer_size, DShowDeviceServer_StreamFormatInfo* formats,
                                   std::uint32_t* count) override;
    HRESULT get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format, std::uint64_t* intervals,
                                          std::uint32_t buffer_size, std::uint32_t* count) override;
    HRESULT create_stream_channel(const DShowDeviceServer_StreamFormat* format) override;
    HRESULT close_stream_channel() override;
    HRESULT get_stream_format_current(DShowDeviceServer_StreamFormat* format) override;
    HRESULT start_stream() override;
    HRESULT pause_stream() override;
    HRESULT get_base_data(void* block) override;
    HRESULT get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id) override;
    HRESULT get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters) override;
    HRESULT release_frame(std::uint64_t frame_id) override;
    cam::stream_format get_stream_format() override;
    void set_device_error_listener(const void* owner, std::function<void()> listener) override;

    // -------- cam::frame_server_itf (from the pipe's thread)
    void update_frame_counts(const cam::frame_counts& counts) override;
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override;
    // Tells the device-error listener, so that the camera's clients learn of
    // it as of a lost camera.
    void stream_failed() override;

    // The camera, for tests and the benchmark; null only after destruction began.
    camera_type* camera() const noexcept { return camera_.get(); }
    const win32::shared_memory_channel& channel() const noexcept { return channel_; }

private:
    HRESULT get_standard_video(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                               void* data, std::uint32_t data_size, std::uint32_t* returned);
    HRESULT set_standard_video(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                               void* data, std::uint32_t data_size);
    HRESULT get_driver_info(std::uint32_t id, void* data, std::uint32_t data_size, std::uint32_t* returned);
    HRESULT get_kyv_info(std::uint32_t id, void* data, std::uint32_t data_size, std::uint32_t* returned);
    // Starts the camera on `format` and opens the channel, under the stream
    // lock; on any failure the camera's stream is released again.
    HRESULT open_stream_channel(const DShowDeviceServer_StreamFormat& format);

    win32::shared_memory_channel channel_;
    // The format the camera committed for the last channel; guarded by stream_lock_.
    DShowDeviceServer_StreamFormat selected_format_{};
    bool format_selected_ = false; // guarded by stream_lock_
    std::shared_ptr<nox_um::usb_device_handle> usb_device_;
    std::mutex stream_lock_;
    std::shared_ptr<camera_type> camera_;
    std::shared_ptr<utils::property_store_itf> store_;
    // Set while a channel is open or being opened.
    std::atomic<bool> busy_{false};
    std::mutex listener_lock_;
    std::function<void()> error_listener_; // guarded by listener_lock_, held while it runs
    const void* listener_owner_ = nullptr; // guarded by listener_lock_
};

} // namespace camtovra
