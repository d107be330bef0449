#pragma once
// The object behind one pipe file: the endpoint's transfer engine and the
// depth that user mode sets.

#include "usb_bulk_pipe.h"

namespace nox {

class pipe_queue {
public:
    // A new, stopped pipe for the endpoint; STATUS_INSUFFICIENT_RESOURCES when
    // memory runs out.
    static NTSTATUS create_pipe(WDFDEVICE device, const USBD_PIPE_INFORMATION& info, pipe_queue** pipe);
    // Stops the pipe and frees it.
    static void destroy(pipe_queue* pipe);

    NTSTATUS start() { return pipe_.start(); }
    NTSTATUS stop() { return pipe_.stop(); }
    bool is_running() { return pipe_.is_running(); }
    bool release_endpoint() { return pipe_.release_endpoint(); }
    void assign_endpoint(const USBD_PIPE_INFORMATION* info) { pipe_.assign_endpoint(info); }
    void queue_request(WDFREQUEST request);
    void set_depth(ULONG depth) { depth_ = depth; }
    ULONG depth() const { return depth_; }
    UCHAR endpoint_address() const { return pipe_.pipe_info().EndpointAddress; }

private:
    pipe_queue(PDEVICE_OBJECT target, PDEVICE_OBJECT work_device, const USBD_PIPE_INFORMATION& info)
        : pipe_(target, work_device, info)
    {
    }

    usb::usb_bulk_pipe pipe_;
    ULONG depth_ = 8;
};

} // namespace nox
