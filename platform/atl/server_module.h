#pragma once
// The running server module as the COM layer sees it: objects that keep the
// server alive lock it, and the type library comes from its executable.

#include <windows.h>

namespace atl {

class server_module {
public:
    virtual ~server_module() = default;
    virtual LONG lock() = 0;
    virtual LONG unlock() = 0;
    [[nodiscard]] virtual LONG lock_count() const = 0;
};

// The module that objects lock; none until the server module sets itself.
void set_current_module(server_module* module) noexcept;
server_module* current_module() noexcept;

// Lock or unlock the current module; nothing when there is none.
void module_lock() noexcept;
void module_unlock() noexcept;

} // namespace atl
