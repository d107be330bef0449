#include "device_impl/shm_channel/shared_memory.h"

#include <system_error>

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
    if (error == ERROR_ALREADY_EXISTS) {
        // Someone still holds a mapping of this name (a client of an earlier
        // open, or anyone who made it first). Its open handles and views
        // would see and change every frame written here, whatever access
        // list it is given now: it is never used.
        handle_.reset();
        throw std::system_error(ERROR_ALREADY_EXISTS, std::system_category(), "failed to create file mapping");
    }
    view_ = static_cast<std::uint8_t*>(MapViewOfFile(handle_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view_ == nullptr) {
        throw out_of_memory("failed to map view of file mapping");
    }
}

shared_memory::~shared_memory()
{
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
    }
}

} // namespace win32
