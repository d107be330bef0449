#pragma once
// The frame path on an endpoint pipe of the driver: the pipe's completions go
// to the reassembly, its read queue is the pipe. Start and stop follow the
// camera's stream start and pause: stop marks the path stopping, stops the
// pipe (every read has finished when it returns) and parks what the pipe
// still held; start resets the stream state, starts the pipe and queues the
// parked requests again. A stream that the pipe ends as a device error is
// reported to the host's frame sink.

#include <memory>
#include <system_error>

#include "device_impl/device_impl_tools/frame_reassembly.h"
#include "nox_um/pipe.h"

namespace cam {

class pipe_frame_stream final : private frame_request_queue {
public:
    pipe_frame_stream(std::shared_ptr<nox_um::pipe> pipe, frame_path_host& host, frame_transfer_mode mode);
    ~pipe_frame_stream() override;
    pipe_frame_stream(const pipe_frame_stream&) = delete;
    pipe_frame_stream& operator=(const pipe_frame_stream&) = delete;

    frame_reassembly& frames() noexcept { return reassembly_; }

    std::error_code start();
    void stop();

private:
    std::error_code queue_request(frame_wrapper* request) override;

    std::shared_ptr<nox_um::pipe> pipe_;
    frame_reassembly reassembly_;
};

} // namespace cam
