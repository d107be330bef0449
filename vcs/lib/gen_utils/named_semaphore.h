#pragma once
// The kernel objects of the shared-memory frame channel: a named semaphore
// that client processes open by name ("Global\" namespace), and the
// channel's mutex, a Win32 mutex usable with std::lock_guard.

#include <windows.h>

#include <cstdint>
#include <string>

#include "gen_utils/win32_utils.h"

namespace win32 {

class named_semaphore {
public:
    // Creates the semaphore `name` (initial count 0) with `security` (null:
    // the default of the process's token). Throws std::system_error "Failed
    // to create semaphore" when it cannot be made or the name already exists.
    named_semaphore(const std::wstring& name, LONG maximum_count, SECURITY_ATTRIBUTES* security);

    // Raises the count by `count`; false when the system refuses (maximum
    // reached). Returns the previous count through `previous` when given.
    bool release(LONG count = 1, LONG* previous = nullptr) noexcept;
    // Takes the count down to 0; returns what it was.
    LONG drain() noexcept;

    const std::wstring& name() const noexcept { return name_; }
    HANDLE handle() const noexcept { return handle_.get(); }
    void close() noexcept { handle_.reset(); }

private:
    std::wstring name_;
    unique_handle handle_;
};

// A mutex of the Win32 kernel; lock and unlock failures throw std::system_error.
class kernel_mutex {
public:
    kernel_mutex();
    kernel_mutex(const kernel_mutex&) = delete;
    kernel_mutex& operator=(const kernel_mutex&) = delete;

    void lock();
    void unlock();
    bool try_lock();

private:
    unique_handle handle_;
};

} // namespace win32
