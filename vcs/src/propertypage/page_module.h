#pragma once
// The property-page module's own state: its module handle and the counters
// that say whether it may unload. Changed from any thread.

#include <windows.h>

namespace camtovra_propertypage {

// The handle kept when the DLL was loaded; in a program that links the page
// code directly, the module that holds this code.
HINSTANCE module_instance() noexcept;
void set_module_instance(HINSTANCE module) noexcept;

void lock_server(bool lock) noexcept;
void class_factory_created() noexcept;
void class_factory_destroyed() noexcept;

// No lock, no class factory and no COM object alive.
bool can_unload() noexcept;

// Loads the rich-edit libraries whose window classes the pages' edit boxes
// use, once per process; they stay loaded.
void load_rich_edit_libraries() noexcept;

} // namespace camtovra_propertypage
