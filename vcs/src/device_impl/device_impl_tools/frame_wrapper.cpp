#include "device_impl/device_impl_tools/frame_wrapper.h"

#include <atomic>
#include <cstring>
#include <new>

#include "gen_utils/log.h"

namespace cam {

namespace {
void store_le32(std::uint8_t* at, std::uint64_t value) noexcept
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}
} // namespace

void frame_header_reset(frame_wrapper& frame, bool clear) noexcept
{
    frame.valid_data_size_ = 0;
    frame.offset = 0;

    if (frame.buffer == nullptr || frame.header_size < frame_header_used_size) {
        log_line(logging::level_error,
                 "[CamTovra] cam::frame_header_reset, Failed to reset the header of frame {}: buffer={}, "
                 "header size={}.\n",
                 frame.id, static_cast<const void*>(frame.buffer), frame.header_size);
        return;
    }

    std::uint8_t* header = frame.buffer;
    store_le32(header + 0, frame.size);
    store_le32(header + 4, frame.id);
    store_le32(header + 8, frame.header_size);
    store_le32(header + 12, frame.capacity);
    std::memset(header + 16, 0, frame_header_used_size - 16);

    if (clear && frame.capacity != 0) {
        std::memset(frame.buffer + frame.header_size + frame.offset, 0, frame.capacity);
    }
}

std::uint32_t next_frame_id() noexcept
{
    static std::atomic<std::uint32_t> counter{0};
    std::uint32_t id = ++counter;
    if (id == 0) {
        id = ++counter; // 0 means "no buffer" to every reader of an id
    }
    return id;
}

std::unique_ptr<frame_wrapper> make_frame_buffer(std::uint64_t capacity)
{
    if (capacity > SIZE_MAX - frame_header_size) {
        throw std::bad_alloc();
    }
    auto frame = std::make_unique<frame_wrapper>();
    const std::size_t size = frame_header_size + static_cast<std::size_t>(capacity);
    auto memory = allocate_frame_memory(size);
    frame->id = next_frame_id();
    frame->size = size;
    frame->header_size = frame_header_size;
    frame->capacity = capacity;
    frame->buffer = memory.get();
    frame->memory = std::move(memory);
    frame_header_reset(*frame, false);
    return frame;
}

} // namespace cam
