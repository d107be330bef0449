#pragma once
// The frame path between the endpoint's reads and the camera's frame sink.
//
// Payload mode: transfer buffers are read one UVC payload at a time; each
// payload's header is parsed and its data appended to the current frame, a
// frame lent by the sink (free list, last in first out). A frame ends with the
// end-of-frame bit, when it is full, or when the frame identifier toggles. A
// frame whose first payload found the free list empty is dropped whole, each
// of its payloads counted as input-buffer starvation.
// Full-frame mode: the sink's frames themselves are read, one transfer being
// header and whole frame; the header is stepped over, nothing is copied.
// Either way a finished frame is judged (complete: ended by end-of-frame, no
// payload of it marked bad by the camera, and as long as the input format's
// image, or for a compressed format holding any data that all fitted),
// counted, processed by the camera and delivered, or given back.
//
// Every request queued on the endpoint is tracked until it comes back. Reads
// that the endpoint drops when it stops, and requeues it refuses, are parked;
// `queue_parked` queues them again after the next start, so no buffer is lost
// across a pause.
//
// Locks: the reassembly lock guards the free list, the current frame and the
// frame counter; the lending lock guards the lent and parked requests and is
// held while a request is queued. Delivery, counter publication and queueing
// never happen under the reassembly lock: the sink calls return_frame under
// its own lock. The completion lock is held through each completion, the
// delivery included, so that a pause can wait for the one under way.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device_impl/device_impl_tools/frame_path_host.h"
#include "device_impl/device_impl_tools/uvc_payload_header.h"

namespace cam {

enum class frame_transfer_mode {
    payload,    // one UVC payload a read, reassembled into frames
    full_frame, // one whole frame (with its payload header) a read
};

class frame_reassembly {
public:
    // Completion status of a read, as the endpoint hands it on: read (bytes
    // may be 0), not read; anything else is a failed read's HRESULT.
    static constexpr std::int32_t status_read = 0;
    static constexpr std::int32_t status_not_read = 2;
    static constexpr std::uint32_t fid_unknown = 255;

    frame_reassembly(frame_path_host& host, frame_request_queue& queue, frame_transfer_mode mode);
    ~frame_reassembly();
    frame_reassembly(const frame_reassembly&) = delete;
    frame_reassembly& operator=(const frame_reassembly&) = delete;

    frame_transfer_mode mode() const noexcept { return mode_; }

    // Payload mode: allocates the transfer buffers; they wait parked for the
    // first start. Throws std::bad_alloc.
    void prepare_transfer_buffers(std::size_t count, std::uint64_t capacity);

    // At every start, before the endpoint starts: frame counter 0, frame
    // identifier unknown, stopping flag clear.
    void reset_stream_state();
    // Before the endpoint stops: completions from now on only give their
    // buffers back.
    void set_stopping() noexcept { stopping_ = true; }
    // A pause that leaves the endpoint running: as set_stopping, and once it
    // returns no completion is still on its way to the sink, so nothing
    // reaches it until the next start. Not to be called from a completion or
    // while holding a lock that a completion takes.
    void pause();
    // Set by a stop or a pause, cleared by the next start.
    bool stopping() const noexcept { return stopping_; }
    // After the endpoint's stop returned: what it still held is parked.
    void endpoint_stopped();
    // After the endpoint started: queues every parked request.
    void queue_parked();
    // Forgets the current frame and the free list and releases the transfer
    // buffers; the endpoint must be stopped. The frames belong to the sink.
    void release_stream();

    // An empty frame from the sink: reset, then onto the free list (payload
    // mode) or queued as a read (full-frame mode). False for a null frame, a
    // frame already free, or one the endpoint refused (it is then parked).
    bool return_frame(frame_wrapper* frame);

    // The endpoint's completion handler.
    void on_completion(frame_wrapper* request, std::uint64_t bytes, std::int32_t status);

    // Counters as the sink last received them; read when no completion runs.
    frame_counts counts() const noexcept { return counts_; }
    // Frame bytes copied by reassembly, for the benchmark's copy ratio.
    std::uint64_t bytes_copied() const noexcept { return bytes_copied_.load(std::memory_order_relaxed); }

    std::size_t free_frames() const;
    std::size_t lent_requests() const;
    std::size_t parked_requests() const;
    std::uint64_t frame_number() const;

private:
    void on_payload(frame_wrapper* transfer, std::uint64_t bytes, std::int32_t status);
    void on_full_frame(frame_wrapper* frame, std::uint64_t bytes, std::int32_t status);
    void reassemble(std::span<const std::uint8_t> data, const payload_info& info);
    void complete(frame_wrapper* frame, const payload_info& info, std::uint64_t frame_number);
    void give_back(frame_wrapper* frame);
    void publish_counts();
    // Queues a request on the endpoint, tracked; parked when refused.
    bool lend(frame_wrapper* request);
    bool lend_locked(frame_wrapper* request);

    frame_path_host& host_;
    frame_request_queue& queue_;
    const frame_transfer_mode mode_;

    // Held by the endpoint's thread through each completion; taken by pause.
    std::mutex completion_lock_;
    mutable std::mutex reassembly_lock_;
    std::vector<frame_wrapper*> free_list_; // last in, first out
    frame_wrapper* current_ = nullptr;
    std::uint64_t current_pts_ = 0; // time stamp of the current frame's first payload
    // A payload of the current frame was marked bad, or (compressed formats)
    // lost bytes to the frame's capacity.
    bool current_bad_ = false;
    // The current frame's format is compressed: read from the host once per
    // frame, not for every payload.
    bool current_compressed_ = false;
    std::uint64_t frame_number_ = 0;
    std::uint32_t current_fid_ = fid_unknown;
    // The frame being received found no free frame for its first payload: it
    // is lost for want of a buffer, and the rest of its payloads are dropped
    // as starved too, even when a frame comes back meanwhile; collected into
    // it, they would make a frame judged short, and the loss would be counted
    // a second time, as packet loss. Ends with the frame.
    bool starved_frame_ = false;
    std::atomic<bool> stopping_{false};

    mutable std::mutex lending_lock_;
    std::vector<frame_wrapper*> lent_;   // queued on the endpoint, not back yet
    std::vector<frame_wrapper*> parked_; // waiting for the next start
    std::vector<std::unique_ptr<frame_wrapper>> transfer_buffers_;

    frame_counts counts_; // completion thread only
    std::atomic<std::uint64_t> bytes_copied_{0};
};

} // namespace cam
