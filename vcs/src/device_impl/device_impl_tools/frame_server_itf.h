#pragma once
// Where finished frames go: the sink of a camera's frame path. The camera
// publishes its frame counters through it and hands it every frame it
// delivers; the sink gives frames back to the camera on its own (the
// shared-memory channel now, the active camera device later).

#include <cstdint>

#include "device_impl/device_impl_tools/frame_wrapper.h"

namespace cam {

// The six frame counters, laid out as the COM record
// DShowDeviceServer_FrameCountInfo.
struct frame_counts {
    std::uint64_t frames_delivered = 0;
    std::uint64_t frames_dropped_due_to_packet_loss = 0;
    std::uint64_t frames_dropped_due_to_input_buffer_starvation = 0;
    std::uint64_t frames_dropped_due_to_dshow_buffer_starvation = 0;
    std::uint64_t frames_dropped_due_to_filter = 0;
    std::uint64_t frames_dropped_due_to_unspecified = 0;
};
static_assert(sizeof(frame_counts) == 48);

class frame_server_itf {
public:
    virtual ~frame_server_itf() = default;

    // Stores a new copy of the counters.
    virtual void update_frame_counts(const frame_counts& counts) = 0;
    // Takes a finished frame with the counters. True when the frame was queued
    // for the client; false when the sink handed it straight back.
    virtual bool deliver_frame(frame_wrapper& frame, const frame_counts& counts) = 0;
    // The stream ended as a device error (something on the endpoint's thread
    // threw): called on that thread once it has ended, so the sink must not
    // stop or release the stream from here. No more frames come until the
    // stream is started again.
    virtual void stream_failed() {}
};

} // namespace cam
