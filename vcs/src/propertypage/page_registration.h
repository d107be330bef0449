#pragma once
// The registry entries of the property-page classes: per class its CLSID key
// under HKEY_CLASSES_ROOT with the display name and the in-process server
// (module path, threading model "Both"), and for a page of a property set its
// entry among the set's property pages.

#include "propertypage/page_templates.h"

#include <span>
#include <string>

namespace camtovra_propertypage {

// Stops at the first template that fails, with HRESULT_FROM_WIN32 of the
// error (E_FAIL for a property-set page without CLSID).
HRESULT register_pages(std::span<const page_template> pages, const std::wstring& module_path);
// Always S_OK: what cannot be removed is left.
HRESULT unregister_pages(std::span<const page_template> pages);

// Deletes one key that has no subkeys left (RegDeleteKeyW; tests put a
// failing one in its place).
using key_deleter = LSTATUS(WINAPI*)(HKEY parent, LPCWSTR subkey);

// Deletes `subkey` of `root` with everything below it. E_FAIL for an empty
// name; a key that cannot be opened counts as gone (S_OK). A subkey that
// cannot be deleted ends the walk with its error, and the key stays.
HRESULT delete_key_tree(HKEY root, const std::wstring& subkey, key_deleter delete_key = &RegDeleteKeyW);

// The whole path of `module`, however long; empty when it cannot be read.
// The buffer starts at `initial_capacity` characters and grows while the path
// fills it.
std::wstring module_path(HMODULE module, DWORD initial_capacity = MAX_PATH);

} // namespace camtovra_propertypage
