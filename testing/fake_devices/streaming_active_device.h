#pragma once
// An opened camera whose stream is real: the simulated camera behind the
// driver library sends UVC payloads over the endpoint pipe, the frame path
// reassembles them into a shared-memory frame channel, and client processes
// take the frames through the COM stream channel. One Y800 format, id 1.
// Property requests are not served.

#include <atomic>
#include <memory>
#include <mutex>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "device_impl/device_impl_tools/pipe_frame_stream.h"
#include "device_impl/shm_channel/shared_memory_channel.h"
#include "fake_device_stats.h"
#include "sim_payload.h"

namespace nox_um_test {
class sim_driver_io;
}

namespace fake_devices {

struct streaming_options {
    sim_camera::payload_stream_config camera;    // transfer size 0: full-frame mode
    std::uint32_t transfer_buffers = 5;
};

class streaming_active_device final : public cam_service::active_device_base, private cam::frame_path_host {
public:
    streaming_active_device(const GUID& device_id, streaming_options options, std::shared_ptr<device_stats> stats);
    ~streaming_active_device() override;

    static constexpr unsigned format_id = 1;

    HRESULT set_property(const GUID*, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t) override
    {
        return E_NOTIMPL;
    }
    HRESULT get_property(const GUID*, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                         std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT query_property_support(const GUID*, std::uint32_t, std::uint32_t*) override { return E_NOTIMPL; }
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

    // The channel's counters as a client would see them.
    cam::frame_counts counts() const { return channel_.counts(); }
    std::uint32_t channel_buffers() const { return channel_.buffers(); }

private:
    // cam::frame_path_host
    cam::frame_input_format input_format() const override;
    bool pts_64bit() const override { return true; }
    bool drop_incomplete_frames() const override { return true; }
    bool force_clear_buffers() const override { return false; }
    void process_frame(cam::frame_wrapper&, img::image_desc&) override {}
    void output_frame(cam::frame_wrapper&, const img::image_desc&) override {}
    cam::frame_server_itf* frame_sink() override { return &channel_; }

    std::uint32_t image_size() const { return options_.camera.width * options_.camera.height; }
    void close_stream_locked();

    streaming_options options_;
    std::shared_ptr<device_stats> stats_;
    win32::shared_memory_channel channel_;
    std::unique_ptr<nox_um_test::sim_driver_io> io_;
    std::unique_ptr<nox_um::usb_device_handle> device_;
    std::unique_ptr<sim_camera::payload_source> source_;
    std::mutex stream_lock_;
    std::unique_ptr<cam::pipe_frame_stream> stream_;
    std::atomic<bool> busy_{false};
    bool selected_ = false;
};

} // namespace fake_devices
