#pragma once
// A thread-pool wait on a kernel handle that calls a function each time the
// handle is signalled, for as long as the registration lives.

#include <windows.h>

#include <functional>

namespace win32::threading {

class register_wait_base {
public:
    register_wait_base(const register_wait_base&) = delete;
    register_wait_base& operator=(const register_wait_base&) = delete;
    virtual ~register_wait_base();

protected:
    register_wait_base() = default;
    // RegisterWaitForSingleObject (no time-out; the wait stays registered
    // after each signal). Throws std::system_error with the last Windows error.
    void register_wait(HANDLE handle, ULONG flags);
    // Ends the wait and waits for a running callback to return. Idempotent.
    void unregister() noexcept;

    virtual void on_signal(bool timed_out) = 0;

private:
    static VOID CALLBACK thunk(PVOID context, BOOLEAN timed_out);
    HANDLE wait_ = nullptr;
};

class register_wait_handle final : public register_wait_base {
public:
    using callback = std::function<void(bool timed_out)>;
    register_wait_handle(HANDLE handle, callback on_signal, ULONG flags = WT_EXECUTEDEFAULT);
    ~register_wait_handle() override;

private:
    void on_signal(bool timed_out) override;
    callback callback_;
};

} // namespace win32::threading
