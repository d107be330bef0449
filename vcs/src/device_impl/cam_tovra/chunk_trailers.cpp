#include "device_impl/cam_tovra/chunk_trailers.h"


namespace cam::impl {
namespace {

constexpr std::size_t trailer_size = 8;

std::uint32_t load_le32(const std::uint8_t* at) noexcept
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

} // namespace

std::size_t walk_chunk_trailers(std::span<std::uint8_t> frame, const std::function<void(const chunk_view&)>& visit)
{
    std::size_t end = frame.size();
    std::size_t walked = 0;
    while (end >= trailer_size) {
        const std::uint32_t id = load_le32(frame.data() + end - trailer_size);
        const std::uint64_t length = load_le32(frame.data() + end - 4);
        // The chunk's data must lie between the frame's start and its trailer.
        if (length + trailer_size > end) {
            break;
        }
        const std::size_t start = end - trailer_size - static_cast<std::size_t>(length);
        ++walked;
        if (visit) {
            visit(chunk_view{id, frame.subspan(start, static_cast<std::size_t>(length))});
        }
        end = start;
    }
    return walked;
}

} // namespace cam::impl
