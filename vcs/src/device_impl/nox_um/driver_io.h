#pragma once
// The service's only road to the driver's files: opening them, device I/O
// controls, overlapped reads, binding a file to a completion port, cancelling
// and closing, and collecting an overlapped result. The shipped
// implementation calls Win32; tests put a simulated device behind the same
// calls. Completion ports themselves are always real.

#include <windows.h>

#include <string>
#include <utility>

namespace nox_um {

class driver_io {
public:
    virtual ~driver_io() = default;
    // CreateFileW; INVALID_HANDLE_VALUE and the thread's last error on failure.
    virtual HANDLE create_file(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                               DWORD flags) = 0;
    virtual BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output,
                                   DWORD output_size, DWORD* returned, OVERLAPPED* overlapped) = 0;
    virtual BOOL read_file(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) = 0;
    // CreateIoCompletionPort: a new port (file INVALID_HANDLE_VALUE), or the
    // binding of `file` to `port` with `key`.
    virtual HANDLE create_io_completion_port(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads) = 0;
    virtual BOOL cancel_io_ex(HANDLE file, OVERLAPPED* overlapped) = 0;
    virtual BOOL get_overlapped_result(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) = 0;
    virtual BOOL close_handle(HANDLE handle) = 0;
};

// Calls Win32 directly.
driver_io& win32_driver_io();

// A handle of the driver_io that made it, closed through it.
class io_handle {
public:
    io_handle() = default;
    io_handle(driver_io& io, HANDLE handle) : io_(&io), handle_(handle) {}
    ~io_handle() { reset(); }
    io_handle(io_handle&& other) noexcept
        : io_(other.io_), handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE))
    {
    }
    io_handle& operator=(io_handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            io_ = other.io_;
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    io_handle(const io_handle&) = delete;
    io_handle& operator=(const io_handle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    driver_io* io() const noexcept { return io_; }
    void reset() noexcept
    {
        if (valid() && io_ != nullptr) {
            io_->close_handle(handle_);
        }
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    driver_io* io_ = nullptr;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

} // namespace nox_um
