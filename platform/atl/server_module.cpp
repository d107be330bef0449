#include "atl/server_module.h"

#include <atomic>

namespace atl {

namespace {
std::atomic<server_module*> the_module{nullptr};
}

void set_current_module(server_module* module) noexcept
{
    the_module.store(module);
}

server_module* current_module() noexcept
{
    return the_module.load();
}

void module_lock() noexcept
{
    if (server_module* module = current_module()) {
        module->lock();
    }
}

void module_unlock() noexcept
{
    if (server_module* module = current_module()) {
        module->unlock();
    }
}

} // namespace atl
