#include "propertypage/module_objects.h"

#include <atomic>

namespace camtovra_propertypage {

namespace {
std::atomic<long> live_objects{0};
}

void object_created() noexcept
{
    ++live_objects;
}

void object_destroyed() noexcept
{
    --live_objects;
}

long object_count() noexcept
{
    return live_objects.load();
}

} // namespace camtovra_propertypage
