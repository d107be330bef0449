#pragma once
// A USB Video Class camera behind the service's driver as the camera base
// sees it: the descriptor tree and input formats, UVC class requests, the
// standard UVC properties, stream negotiation and the endpoint pipe whose
// reads feed the frame path. The camera class derives from it and supplies
// the device-specific operations.
//
// Stream life: select_format (probe/commit) → prepare_stream (pipe, transfer
// buffers, frame handler) → start_streaming → stop_streaming →
// release_stream. A derived class must release the stream before its own
// destruction: the pipe's thread calls into it until then.

#include <memory>
#include <mutex>
#include <vector>

#include "device_impl/camera_base/usb_camera_base.h"
#include "device_impl/device_impl_tools/frame_path_host.h"
#include "device_impl/device_impl_tools/pipe_frame_stream.h"
#include "device_impl/uvc/uvc_descriptor_tree.h"
#include "device_impl/uvc/uvc_input_format.h"
#include "device_impl/uvc/uvc_stream_params.h"
#include "properties/uvc_control_channel.h"
#include "properties/uvc_standard_properties.h"

namespace cam::uvc_cam {

class uvc_device_base : public usb_camera_base,
                        protected frame_path_host,
                        protected uvc_property::uvc_control_channel {
public:
    static constexpr std::uint32_t transfer_buffer_count = 5;
    static constexpr std::uint32_t pipe_depth = 8;

    explicit uvc_device_base(camera_creation creation);
    ~uvc_device_base() override;

    // One UVC class request on the driver (see uvc_request.h).
    std::error_code uvc_request(std::uint8_t request, std::uint8_t unit_id, std::uint8_t interface_number,
                                std::uint8_t selector, std::uint16_t length, void* buffer,
                                std::uint32_t* transferred = nullptr);
    // dwMaxPayloadTransferSize proposed in the probe.
    std::uint32_t get_max_bus_transfer_size();

    // -------- usb_camera_base
    using usb_camera_base::output_frame;
    std::uint32_t required_frame_buffer_size() override;
    void return_frame(frame_wrapper* frame) override;
    std::error_code init_standard_properties() override;
    outcome::std_result<std::vector<stream_format_entry>> build_input_formats() override;
    std::vector<std::uint64_t> frame_intervals(const stream_format_entry& entry) override;
    std::uint32_t firmware_revision() override { return 0; }
    std::error_code select_format(const stream_format& format, std::uint64_t interval) override;
    std::error_code prepare_stream() override;
    void release_stream() override;
    std::error_code stop_streaming() override;
    // A start of a stream that already streams changes nothing of it: its
    // frame numbering and the frame being received go on; only post_start
    // runs again.
    std::error_code start_streaming() override;
    // Started, and neither paused nor stopped since. Under the stream lock.
    bool streaming() const;

    // -------- further operations
    virtual std::error_code init_features() = 0;
    virtual void after_release() {}
    // Frame number 0, stopping flag clear, frame identifier unknown.
    virtual void reset_stream_state();
    virtual std::error_code post_start() { return {}; }
    // Fills the probe for a format, interval and requested size; an error
    // fails the format's selection before anything is sent.
    virtual std::error_code fill_probe(const uvc_cam::input_format& format, std::uint64_t interval,
                                       vs_probe_commit& probe, cam::dim requested);
    virtual void configure_pipeline(const std::vector<uvc_cam::input_format>& formats) = 0;
    virtual std::vector<std::uint64_t> custom_frame_intervals(const stream_format_entry& entry) = 0;
    virtual void review_input_formats(std::vector<uvc_cam::input_format>& formats) = 0;
    virtual bool accept_input_format(uvc_cam::input_format& format) = 0;
    virtual std::uint32_t payload_transfer_size(const vs_probe_commit& commit)
    {
        return commit.max_payload_transfer_size();
    }

    // -------- state
    const uvc_descriptor_tree& descriptor_tree() const noexcept { return tree_; }
    const std::vector<uvc_cam::input_format>& input_formats() const noexcept { return inputs_; }
    const vs_probe_commit& committed() const noexcept { return commit_; }
    const stream_format& input_stream_format() const noexcept { return input_stream_format_; }
    bool full_frame() const noexcept { return plan_.full_frame; }
    std::uint32_t transfer_size() const noexcept { return plan_.transfer_size; }
    // The endpoint pipe while a stream is prepared, else null.
    std::shared_ptr<nox_um::pipe> endpoint_pipe() const { return pipe_; }
    pipe_frame_stream* frame_stream() noexcept { return stream_.get(); }
    const uvc_property::uvc_standard_properties& standard_properties() const noexcept { return standard_; }

protected:
    // A pause that leaves the pipe running: from its return until the next
    // start no frame reaches the sink. Not under the request lock.
    void pause_frame_path();

    // -------- frame_path_host
    frame_input_format input_format() const override;
    bool pts_64bit() const override { return pts_64bit_; }
    bool drop_incomplete_frames() const override;
    bool force_clear_buffers() const override;
    void output_frame(frame_wrapper& frame, const img::image_desc& image) override;
    frame_server_itf* frame_sink() override { return usb_camera_base::frame_sink(); }

    // -------- uvc_control_channel: requests to the VideoControl interface
    std::error_code uvc_request(std::uint8_t request, std::uint8_t unit_id, std::uint8_t selector,
                                std::uint16_t length, void* buffer) override;
    utils::property_store_itf* property_store() override;
    // Beside the node walk of the camera's GenICam documents, which keeps
    // feature values in the same store under the features' names.
    std::wstring value_name(std::wstring_view name) override;

    // Set by the camera class: no standard UVC handlers; the device flag of
    // the UVC properties; 64-bit payload time stamps.
    bool suppress_standard_properties_ = false;
    std::uint8_t device_flag_ = 0;
    bool pts_64bit_ = false;

private:
    std::error_code select_alternate_interface(std::uint8_t& endpoint);
    // The uncompressed image a frame must hold (the input stream format's
    // buffer length); 0 for a compressed format.
    std::uint32_t uncompressed_image_size() const noexcept;

    uvc_descriptor_tree tree_;
    std::vector<uvc_cam::input_format> inputs_;
    vs_probe_commit commit_;
    stream_format input_stream_format_;
    bool input_compressed_ = false; // the committed format is MJPEG or frame-based
    std::uint64_t interval_ = 0;
    stream_transfer_plan plan_;
    std::shared_ptr<nox_um::pipe> pipe_;
    // Guards stream_ against return_frame, which a client's ReleaseFrame and
    // the pipe's thread reach at any time: prepare_stream, release_stream and
    // the destructor replace stream_ only under it, so a stream is not freed
    // while a return is inside it. Everything else that touches stream_ runs
    // under the active device's stream lock, as those three do. Never held
    // while waiting for the pipe's thread.
    std::mutex frame_stream_lock_;
    std::unique_ptr<pipe_frame_stream> stream_;
    // A streaming alternate setting is selected (its bandwidth reserved) and
    // release_stream has not yet gone back to alternate setting 0. Under the
    // active device's stream lock.
    bool alternate_selected_ = false;
    uvc_property::uvc_standard_properties standard_;
};

} // namespace cam::uvc_cam
