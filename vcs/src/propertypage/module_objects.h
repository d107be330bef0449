#pragma once
// The module's count of live COM objects (pages and item-data objects): the
// module may unload only while it is zero. Changed from any thread.

namespace camtovra_propertypage {

void object_created() noexcept;
void object_destroyed() noexcept;
long object_count() noexcept;

} // namespace camtovra_propertypage
