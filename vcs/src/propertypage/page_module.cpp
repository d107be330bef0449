#include "propertypage/page_module.h"

#include "propertypage/module_objects.h"

#include <atomic>

namespace camtovra_propertypage {

namespace {
std::atomic<HINSTANCE> kept_module{nullptr};
std::atomic<long> locks{0};
std::atomic<long> class_factories{0};
} // namespace

HINSTANCE module_instance() noexcept
{
    if (HINSTANCE kept = kept_module.load()) {
        return kept;
    }
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&module_instance), &module);
    return module;
}

void set_module_instance(HINSTANCE module) noexcept
{
    kept_module = module;
}

void lock_server(bool lock) noexcept
{
    if (lock) {
        ++locks;
    } else {
        --locks;
    }
}

void class_factory_created() noexcept
{
    ++class_factories;
}

void class_factory_destroyed() noexcept
{
    --class_factories;
}

bool can_unload() noexcept
{
    return locks.load() <= 0 && class_factories.load() <= 0 && object_count() <= 0;
}

} // namespace camtovra_propertypage
