#pragma once
// What the frame path needs of the camera it serves and of the endpoint it
// reads: the camera's input format, its time-stamp width and debug flags, its
// per-frame processing and output steps and its frame sink; the endpoint's
// read queue. Platform-free: the camera and the pipe adapt to these.

#include <cstdint>
#include <system_error>

#include "device_impl/device_impl_tools/frame_server_itf.h"
#include "device_impl/device_impl_tools/frame_wrapper.h"
#include "device_impl/image/image_format.h"

namespace cam {

// The stream format the camera negotiated, as the frame path uses it.
struct frame_input_format {
    std::uint32_t fourcc = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint32_t buffer_length = 0; // bytes of one complete image
    std::uint32_t plane_size = 0;    // first plane of a planar format, else 0
    // MJPEG and frame-based formats: a frame is as long as the camera makes
    // it, so buffer_length says nothing about it.
    bool compressed = false;
};

class frame_path_host {
public:
    virtual ~frame_path_host() = default;

    virtual frame_input_format input_format() const = 0;
    // Payload headers carry 64-bit time stamps (else 32-bit).
    virtual bool pts_64bit() const = 0;
    // Debug flags: incomplete frames are dropped (else delivered flagged);
    // every returned frame's data area is zeroed.
    virtual bool drop_incomplete_frames() const = 0;
    virtual bool force_clear_buffers() const = 0;
    // Per-frame processing of the camera class (header bytes 80-223 and the
    // image in place).
    virtual void process_frame(frame_wrapper& frame, img::image_desc& image) = 0;
    // The output step before delivery (the overlay).
    virtual void output_frame(frame_wrapper& frame, const img::image_desc& image) = 0;
    // Where finished frames and the counters go; null drops every frame.
    virtual frame_server_itf* frame_sink() = 0;
};

// The endpoint's read queue: a queued request comes back once through the
// completion handler, unless the queue refuses it here.
class frame_request_queue {
public:
    virtual ~frame_request_queue() = default;
    virtual std::error_code queue_request(frame_wrapper* request) = 0;
};

} // namespace cam
