#pragma once
// The server's class-object table: one row per coclass with its registry
// scripts and, when it is creatable, the maker of its class factory.
// Registration, unregistration and class-object registration walk the rows
// in table order.

#include <windows.h>
#include <objbase.h>

#include <span>
#include <vector>

#include "atl/class_factory.h"
#include "atl/registry_script.h"

namespace atl {

struct class_object_entry {
    const wchar_t* name;
    CLSID clsid;
    const registry_script* script;
    class_factory_creator make_factory; // null: not creatable
};

class class_object_table {
public:
    explicit class_object_table(std::span<const class_object_entry> entries) : entries_(entries) {}
    ~class_object_table() { revoke(); }
    class_object_table(const class_object_table&) = delete;
    class_object_table& operator=(const class_object_table&) = delete;

    // Applies each row's script; stops at the first failure.
    HRESULT update_registry(HKEY classes_root, const replacement_map& replacements, bool do_register) const;

    // Registers the class object of every creatable row with COM; stops at
    // the first failure, keeping those already registered (revoke undoes them).
    HRESULT register_class_objects(DWORD context, DWORD flags);
    // Revokes every registered class object. Harmless when none is.
    void revoke() noexcept;

    [[nodiscard]] std::span<const class_object_entry> entries() const noexcept { return entries_; }

private:
    std::span<const class_object_entry> entries_;
    std::vector<DWORD> cookies_;
};

} // namespace atl
