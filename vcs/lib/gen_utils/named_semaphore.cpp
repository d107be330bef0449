#include "gen_utils/named_semaphore.h"

#include <system_error>

namespace win32 {

namespace {
[[noreturn]] void throw_last_error(const char* what, DWORD error = GetLastError())
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}
} // namespace

named_semaphore::named_semaphore(const std::wstring& name, LONG maximum_count, SECURITY_ATTRIBUTES* security)
    : name_(name)
{
    handle_.reset(CreateSemaphoreW(security, 0, maximum_count, name_.c_str()));
    const DWORD error = GetLastError();
    if (!handle_ || error == ERROR_ALREADY_EXISTS) {
        handle_.reset();
        throw_last_error("Failed to create semaphore", error == 0 ? ERROR_INVALID_HANDLE : error);
    }
}

bool named_semaphore::release(LONG count, LONG* previous) noexcept
{
    return handle_ && ReleaseSemaphore(handle_.get(), count, previous) != FALSE;
}

LONG named_semaphore::drain() noexcept
{
    LONG taken = 0;
    while (handle_ && WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0) {
        ++taken;
    }
    return taken;
}

kernel_mutex::kernel_mutex() : handle_(CreateMutexW(nullptr, FALSE, nullptr))
{
    if (!handle_) {
        throw_last_error("Failed to create mutex");
    }
}

void kernel_mutex::lock()
{
    const DWORD result = WaitForSingleObject(handle_.get(), INFINITE);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        throw_last_error("Failed to lock mutex", result == WAIT_FAILED ? GetLastError() : ERROR_INVALID_STATE);
    }
}

bool kernel_mutex::try_lock()
{
    const DWORD result = WaitForSingleObject(handle_.get(), 0);
    if (result == WAIT_TIMEOUT) {
        return false;
    }
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        throw_last_error("Failed to lock mutex", result == WAIT_FAILED ? GetLastError() : ERROR_INVALID_STATE);
    }
    return true;
}

void kernel_mutex::unlock()
{
    if (!ReleaseMutex(handle_.get())) {
        throw_last_error("Failed to unlock mutex");
    }
}

} // namespace win32
