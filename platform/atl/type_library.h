#pragma once
// The type library that the server executable carries (resource TYPELIB 1):
// loading it, and registering it for the machine or for the current user.

#include <windows.h>
#include <ole2.h>

namespace atl {

// Loads the type library of this process's executable without registering
// it. The caller releases *library.
HRESULT load_module_type_library(ITypeLib** library) noexcept;

// Registers the executable's type library. Per user, the keys go below
// HKCU\Software\Classes instead of the machine's classes.
HRESULT register_module_type_library(bool per_user) noexcept;

// Removes the registration again, including the interface keys that name this
// library in both registry views, also when its TypeLib key is already gone.
HRESULT unregister_module_type_library(bool per_user) noexcept;

} // namespace atl
