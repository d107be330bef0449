#include "properties/prop_emulation_frame_count_info.h"

#include <cstring>

namespace prop_emulation {

void frame_count_info::store(const cam::frame_counts& counts) noexcept
{
    const std::uint64_t values[] = {counts.frames_delivered,
                                    counts.frames_dropped_due_to_packet_loss,
                                    counts.frames_dropped_due_to_input_buffer_starvation,
                                    counts.frames_dropped_due_to_dshow_buffer_starvation,
                                    counts.frames_dropped_due_to_filter,
                                    counts.frames_dropped_due_to_unspecified};
    for (std::size_t i = 0; i < counters_.size(); ++i) {
        counters_[i].store(values[i], std::memory_order_relaxed);
    }
}

cam::frame_counts frame_count_info::snapshot() const noexcept
{
    cam::frame_counts counts;
    counts.frames_delivered = counters_[0].load(std::memory_order_relaxed);
    counts.frames_dropped_due_to_packet_loss = counters_[1].load(std::memory_order_relaxed);
    counts.frames_dropped_due_to_input_buffer_starvation = counters_[2].load(std::memory_order_relaxed);
    counts.frames_dropped_due_to_dshow_buffer_starvation = counters_[3].load(std::memory_order_relaxed);
    counts.frames_dropped_due_to_filter = counters_[4].load(std::memory_order_relaxed);
    counts.frames_dropped_due_to_unspecified = counters_[5].load(std::memory_order_relaxed);
    return counts;
}

std::error_code frame_count_info::get_request(KsPropDataRequest& request)
{
    if (!(cam::key_of(request) == key())) {
        return make_cam_error(E_NOTIMPL);
    }
    if (auto ec = cam::check_value_buffer(request, record_size)) {
        return ec;
    }
    const cam::frame_counts counts = snapshot();
    static_assert(sizeof counts == record_size);
    std::memcpy(request.value, &counts, record_size);
    request.bytes_returned = record_size;
    return {};
}

std::error_code frame_count_info::set_request(KsPropDataRequest&)
{
    return make_cam_error(E_NOTIMPL);
}

} // namespace prop_emulation
