#include "device_impl/device_impl_tools/pipe_frame_stream.h"

namespace cam {

pipe_frame_stream::pipe_frame_stream(std::shared_ptr<nox_um::pipe> pipe, frame_path_host& host,
                                     frame_transfer_mode mode)
    : pipe_(std::move(pipe)), reassembly_(host, *this, mode)
{
    pipe_->set_completion_callback([this](frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
        reassembly_.on_completion(request, bytes, status);
    });
    pipe_->set_failure_callback([&host] {
        if (frame_server_itf* sink = host.frame_sink()) {
            sink->stream_failed();
        }
    });
}

pipe_frame_stream::~pipe_frame_stream()
{
    stop();
    pipe_->set_completion_callback(nullptr);
    pipe_->set_failure_callback(nullptr);
}

std::error_code pipe_frame_stream::start()
{
    reassembly_.reset_stream_state();
    if (const std::error_code ec = pipe_->start()) {
        return ec;
    }
    reassembly_.queue_parked();
    return {};
}

void pipe_frame_stream::stop()
{
    reassembly_.set_stopping();
    pipe_->stop();
    reassembly_.endpoint_stopped();
}

std::error_code pipe_frame_stream::queue_request(frame_wrapper* request)
{
    return pipe_->queue_request(request);
}

} // namespace cam
