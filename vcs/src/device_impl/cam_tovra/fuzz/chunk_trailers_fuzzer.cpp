// Any byte string as a frame in chunk mode: the walk reads and hands out only
// bytes of the frame.

#include "device_impl/cam_tovra/chunk_trailers.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> frame(data, data + size);
    std::size_t end = frame.size();
    const std::size_t walked = cam::impl::walk_chunk_trailers(frame, [&](const cam::impl::chunk_view& chunk) {
        const auto offset = static_cast<std::size_t>(chunk.data.data() - frame.data());
        // Chunks come back to front without overlapping their trailers.
        if (offset + chunk.data.size() + 8 != end) {
            std::abort();
        }
        end = offset;
    });
    if (walked * 8 > size) {
        std::abort();
    }
    return 0;
}
