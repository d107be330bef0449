#include "device_impl/device_impl_tools/frame_reassembly.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "gen_utils/log.h"

namespace cam {

namespace {

void store_le32(std::uint8_t* at, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void store_le64(std::uint8_t* at, std::uint64_t value) noexcept
{
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t load_le32(const std::uint8_t* at) noexcept
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

std::uint64_t now_us() noexcept
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

bool erase_one(std::vector<frame_wrapper*>& list, frame_wrapper* item) noexcept
{
    const auto found = std::find(list.begin(), list.end(), item);
    if (found == list.end()) {
        return false;
    }
    list.erase(found);
    return true;
}

bool contains(const std::vector<frame_wrapper*>& list, const frame_wrapper* item) noexcept
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

frame_reassembly::frame_reassembly(frame_path_host& host, frame_request_queue& queue, frame_transfer_mode mode)
    : host_(host), queue_(queue), mode_(mode)
{
    free_list_.reserve(8);
    lent_.reserve(40);
    parked_.reserve(40);
}

frame_reassembly::~frame_reassembly() = default;

void frame_reassembly::prepare_transfer_buffers(std::size_t count, std::uint64_t capacity)
{
    std::vector<std::unique_ptr<frame_wrapper>> buffers;
    buffers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        buffers.push_back(make_frame_buffer(capacity));
    }
    std::lock_guard lock(lending_lock_);
    for (const auto& old : transfer_buffers_) {
        erase_one(parked_, old.get());
    }
    transfer_buffers_ = std::move(buffers);
    for (const auto& buffer : transfer_buffers_) {
        parked_.push_back(buffer.get());
    }
}

void frame_reassembly::reset_stream_state()
{
    std::lock_guard lock(reassembly_lock_); // the endpoint may still run during a pause
    frame_number_ = 0;
    current_fid_ = fid_unknown;
    starved_frame_ = false;
    stopping_ = false;
}

void frame_reassembly::pause()
{
    stopping_ = true;
    // A completion that saw the flag clear delivers before this returns.
    std::lock_guard wait(completion_lock_);
}

void frame_reassembly::endpoint_stopped()
{
    std::lock_guard lock(lending_lock_);
    for (frame_wrapper* request : lent_) {
        if (!contains(parked_, request)) {
            parked_.push_back(request);
        }
    }
    lent_.clear();
}

void frame_reassembly::queue_parked()
{
    std::lock_guard lock(lending_lock_);
    std::vector<frame_wrapper*> waiting;
    waiting.swap(parked_);
    for (frame_wrapper* request : waiting) {
        lend_locked(request);
    }
}

void frame_reassembly::release_stream()
{
    {
        std::lock_guard lock(reassembly_lock_);
        current_ = nullptr;
        starved_frame_ = false;
        free_list_.clear();
    }
    std::lock_guard lock(lending_lock_);
    if (!lent_.empty()) {
        log_line(logging::level_error,
                 "[CamTovra] cam::frame_reassembly::release_stream, {} reads still queued on a running endpoint.\n",
                 lent_.size());
    }
    lent_.clear();
    parked_.clear();
    transfer_buffers_.clear();
}

bool frame_reassembly::return_frame(frame_wrapper* frame)
{
    if (frame == nullptr) {
        return false;
    }
    const bool clear = host_.force_clear_buffers();
    if (mode_ == frame_transfer_mode::full_frame) {
        std::lock_guard lock(lending_lock_);
        if (contains(lent_, frame)) {
            return false; // a read still targets it
        }
        frame_header_reset(*frame, clear);
        return lend_locked(frame);
    }
    std::lock_guard lock(reassembly_lock_);
    if (frame == current_ || contains(free_list_, frame)) {
        return false; // already the path's: a second return must not make it twice free
    }
    frame_header_reset(*frame, clear);
    free_list_.push_back(frame);
    return true;
}

bool frame_reassembly::lend(frame_wrapper* request)
{
    std::lock_guard lock(lending_lock_);
    return lend_locked(request);
}

bool frame_reassembly::lend_locked(frame_wrapper* request)
{
    if (contains(lent_, request)) {
        return false; // already queued: two reads into one buffer would corrupt it
    }
    erase_one(parked_, request);
    lent_.push_back(request);
    if (queue_.queue_request(request)) {
        lent_.pop_back();
        parked_.push_back(request);
        return false;
    }
    return true;
}

void frame_reassembly::on_completion(frame_wrapper* request, std::uint64_t bytes, std::int32_t status)
{
    if (request == nullptr) {
        return;
    }
    std::lock_guard completing(completion_lock_);
    {
        std::lock_guard lock(lending_lock_);
        erase_one(lent_, request);
    }
    if (mode_ == frame_transfer_mode::payload) {
        on_payload(request, bytes, status);
    } else {
        on_full_frame(request, bytes, status);
    }
}

void frame_reassembly::on_payload(frame_wrapper* transfer, std::uint64_t bytes, std::int32_t status)
{
    if (status == status_read && !stopping_) {
        const std::size_t received = static_cast<std::size_t>(std::min(bytes, transfer->capacity));
        const std::span<const std::uint8_t> payload(transfer->data(), received);
        const payload_info info = parse_payload_header(payload, host_.pts_64bit());
        if (info.valid) {
            reassemble(payload.subspan(info.header_length), info);
        }
    }
    lend(transfer);
}

void frame_reassembly::reassemble(std::span<const std::uint8_t> data, const payload_info& info)
{
    frame_wrapper* finished[2] = {};
    payload_info finished_info[2];
    std::uint64_t finished_number[2] = {};
    int finished_count = 0;
    bool starved = false;
    {
        std::lock_guard lock(reassembly_lock_);
        if (info.fid != current_fid_) {
            // The identifier toggled: the frame being filled ended without
            // its end-of-frame bit. It keeps its own identifier and time
            // stamp and is judged as lacking end-of-frame.
            if (current_ != nullptr) {
                payload_info own;
                own.fid = current_fid_;
                own.pts = current_pts_;
                own.end_of_frame = false;
                own.error = current_bad_;
                own.valid = true;
                finished[finished_count] = std::exchange(current_, nullptr);
                finished_info[finished_count] = own;
                finished_number[finished_count] = frame_number_;
                ++finished_count;
            }
            if (current_fid_ != fid_unknown) {
                ++frame_number_;
            }
            current_fid_ = info.fid;
            starved_frame_ = false;
        }
        if (current_ == nullptr) {
            if (starved_frame_ || free_list_.empty()) {
                starved = true;
                starved_frame_ = true;
            } else {
                current_ = free_list_.back();
                free_list_.pop_back();
                current_pts_ = info.pts;
                current_bad_ = false;
                current_compressed_ = host_.input_format().compressed;
                store_le64(current_->buffer + frame_header::first_payload_us, now_us());
                store_le64(current_->buffer + frame_header::pts, info.pts);
            }
        }
        if (current_ != nullptr) {
            frame_wrapper& frame = *current_;
            const std::uint64_t room = frame.capacity - std::min(frame.capacity, frame.valid_data_size_);
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(room, data.size()));
            if (n != 0) {
                std::memcpy(frame.data() + frame.valid_data_size_, data.data(), n);
                frame.valid_data_size_ += n;
                bytes_copied_.fetch_add(n, std::memory_order_relaxed);
            }
            // A compressed frame has no length of its own: bytes beyond its
            // buffer cut it short, and once full it waits for its
            // end-of-frame, so that its tail cannot pass for a frame.
            current_bad_ = current_bad_ || info.error || (current_compressed_ && n < data.size());
            const bool full = frame.valid_data_size_ >= frame.capacity;
            if (info.end_of_frame || (full && !current_compressed_)) {
                payload_info done = info;
                done.end_of_frame = true;
                done.error = current_bad_;
                finished[finished_count] = std::exchange(current_, nullptr);
                finished_info[finished_count] = done;
                finished_number[finished_count] = frame_number_;
                ++finished_count;
            }
        }
        if (info.end_of_frame) {
            ++frame_number_;
            current_fid_ = 1 - info.fid;
            starved_frame_ = false;
        }
    }
    for (int i = 0; i < finished_count; ++i) {
        complete(finished[i], finished_info[i], finished_number[i]);
    }
    if (starved) {
        ++counts_.frames_dropped_due_to_input_buffer_starvation;
        publish_counts();
    }
}

void frame_reassembly::on_full_frame(frame_wrapper* frame, std::uint64_t bytes, std::int32_t status)
{
    if (status != status_read || stopping_) {
        return_frame(frame);
        return;
    }
    frame->valid_data_size_ = std::min(bytes, frame->capacity);
    const std::span<const std::uint8_t> received(frame->data() + frame->offset,
                                                 static_cast<std::size_t>(frame->valid_data_size_));
    const payload_info info = parse_payload_header(received, host_.pts_64bit());
    if (!info.valid) {
        ++counts_.frames_dropped_due_to_packet_loss;
        publish_counts();
        return_frame(frame);
        return;
    }
    // The header lies within the received bytes (checked by the parse).
    frame->offset += info.header_length;
    frame->valid_data_size_ -= info.header_length;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(reassembly_lock_);
        number = frame_number_;
        if (info.end_of_frame) {
            ++frame_number_;
        }
    }
    complete(frame, info, number);
}

void frame_reassembly::complete(frame_wrapper* frame, const payload_info& info, std::uint64_t frame_number)
{
    const frame_input_format format = host_.input_format();
    // A compressed frame is as long as the camera made it.
    const bool holds_image = format.compressed ? frame->valid_data_size_ != 0
                                               : frame->valid_data_size_ >= format.buffer_length;
    const bool incomplete = !(info.end_of_frame && !info.error && holds_image);
    std::uint8_t* header = frame->buffer;
    store_le64(header + frame_header::frame_number, frame_number);
    store_le64(header + frame_header::fid, info.fid);
    store_le64(header + frame_header::pts, info.pts);
    store_le64(header + frame_header::completed_us, now_us());
    if (incomplete) {
        store_le32(header + frame_header::flags,
                   load_le32(header + frame_header::flags) | frame_header::flag_incomplete);
        ++counts_.frames_dropped_due_to_packet_loss;
        publish_counts();
        if (host_.drop_incomplete_frames()) {
            give_back(frame);
            return;
        }
    }
    frame_server_itf* sink = host_.frame_sink();
    if (sink == nullptr) {
        give_back(frame);
        return;
    }
    const std::uint64_t image_limit = format.compressed ? frame->valid_data_size_ : format.buffer_length;
    const auto image_bytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({frame->valid_data_size_, image_limit, 0xFFFFFFFFu}));
    img::image_desc image = img::image_desc_make(frame->data() + frame->offset, format.fourcc, format.width,
                                                 format.height, format.stride, image_bytes);
    image.plane_size = format.plane_size;
    host_.process_frame(*frame, image);
    host_.output_frame(*frame, image);
    ++counts_.frames_delivered;
    sink->deliver_frame(*frame, counts_);
}

void frame_reassembly::give_back(frame_wrapper* frame)
{
    return_frame(frame);
}

void frame_reassembly::publish_counts()
{
    if (frame_server_itf* sink = host_.frame_sink()) {
        sink->update_frame_counts(counts_);
    }
}

std::size_t frame_reassembly::free_frames() const
{
    std::lock_guard lock(reassembly_lock_);
    return free_list_.size();
}

std::size_t frame_reassembly::lent_requests() const
{
    std::lock_guard lock(lending_lock_);
    return lent_.size();
}

std::size_t frame_reassembly::parked_requests() const
{
    std::lock_guard lock(lending_lock_);
    return parked_.size();
}

std::uint64_t frame_reassembly::frame_number() const
{
    std::lock_guard lock(reassembly_lock_);
    return frame_number_;
}

} // namespace cam
