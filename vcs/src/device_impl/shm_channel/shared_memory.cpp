#include "device_impl/shm_channel/shared_memory.h"

#include <system_error>

#include "device_impl/shm_channel/channel_security.h"

namespace win32 {

shared_memory::shared_memory(const std::wstring& name, std::uint64_t size, SECURITY_ATTRIBUTES* security)
    : name_(name), size_(size)
{
    handle_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                     static_cast<DWORD>(size), name_.c_str()));
    const DWORD error = GetLastError();
    if (!handle_) {
        throw std::system_error(static_cast<int>(error), std::system_category(), "failed to create file mapping");
    }
    reused_ = error == ERROR_ALREADY_EXISTS;
    view_ = static_cast<std::uint8_t*>(MapViewOfFile(handle_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view_ == nullptr) {
        throw out_of_memory("failed to map view of file mapping");
    }
    if (reused_) {
        // The name led to a mapping made for an earlier open: writing `size`
        // bytes into a smaller one would run past the view.
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(view_, &region, sizeof(region)) < sizeof(region) || region.RegionSize < size) {
            UnmapViewOfFile(view_);
            view_ = nullptr;
            throw std::system_error(ERROR_ALREADY_EXISTS, std::system_category(), "failed to create file mapping");
        }
        // It still carries the access of the open it was made for.
        if (security != nullptr) {
            if (const DWORD denied = apply_dacl(handle_.get(), *security)) {
                UnmapViewOfFile(view_);
                view_ = nullptr;
                throw std::system_error(static_cast<int>(denied), std::system_category(),
                                        "failed to restrict file mapping");
            }
        }
    }
}

shared_memory::~shared_memory()
{
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
    }
}

} // namespace win32
