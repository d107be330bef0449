#include "session_proxy/register_wait_handle.h"

#include <system_error>

namespace win32::threading {

register_wait_base::~register_wait_base()
{
    unregister();
}

void register_wait_base::register_wait(HANDLE handle, ULONG flags)
{
    if (!RegisterWaitForSingleObject(&wait_, handle, thunk, this, INFINITE, flags)) {
        wait_ = nullptr;
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "win32::threading::register_wait_base, RegisterWaitForSingleObject failed");
    }
}

void register_wait_base::unregister() noexcept
{
    if (wait_ != nullptr) {
        UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
        wait_ = nullptr;
    }
}

VOID CALLBACK register_wait_base::thunk(PVOID context, BOOLEAN timed_out)
{
    static_cast<register_wait_base*>(context)->on_signal(timed_out != FALSE);
}

register_wait_handle::register_wait_handle(HANDLE handle, callback on_signal, ULONG flags)
    : callback_(std::move(on_signal))
{
    register_wait(handle, flags);
}

register_wait_handle::~register_wait_handle()
{
    // Before the callable goes: no callback may run on a half-destroyed object.
    unregister();
}

void register_wait_handle::on_signal(bool timed_out)
{
    callback_(timed_out);
}

} // namespace win32::threading
