// Frame memory on Windows: committed large pages when the system offers them
// (the caller's account needs the lock-pages privilege, so this often fails),
// otherwise ordinary committed pages of the exact size.
#include "device_impl/device_impl_tools/frame_wrapper.h"

#include <windows.h>

#include <new>

namespace cam {

std::shared_ptr<std::uint8_t> allocate_frame_memory(std::size_t size)
{
    void* memory = nullptr;
    if (const SIZE_T large = GetLargePageMinimum(); large != 0 && size <= SIZE_MAX - large) {
        const SIZE_T rounded = (size + large - 1) / large * large;
        memory = VirtualAlloc(nullptr, rounded, MEM_COMMIT | MEM_RESERVE | MEM_LARGE_PAGES, PAGE_READWRITE);
    }
    if (memory == nullptr) {
        memory = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return {static_cast<std::uint8_t*>(memory), [](std::uint8_t* at) { VirtualFree(at, 0, MEM_RELEASE); }};
}

} // namespace cam
