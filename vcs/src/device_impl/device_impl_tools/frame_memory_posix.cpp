// Frame memory of the native build: page-aligned, zero-filled heap memory.
#include "device_impl/device_impl_tools/frame_wrapper.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace cam {

std::shared_ptr<std::uint8_t> allocate_frame_memory(std::size_t size)
{
    constexpr std::size_t page = 4096;
    if (size > SIZE_MAX - page) {
        throw std::bad_alloc();
    }
    const std::size_t rounded = (size + page - 1) / page * page;
    void* memory = std::aligned_alloc(page, rounded == 0 ? page : rounded);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    std::memset(memory, 0, rounded); // committed like the Windows pages
    return {static_cast<std::uint8_t*>(memory), [](std::uint8_t* at) { std::free(at); }};
}

} // namespace cam
