#include "atl/class_object_table.h"

#include "atl/com_ptr.h"

namespace atl {

HRESULT class_object_table::update_registry(HKEY classes_root, const replacement_map& replacements,
                                            bool do_register) const
{
    for (const class_object_entry& entry : entries_) {
        if (entry.script == nullptr) {
            continue;
        }
        if (const HRESULT hr = apply_registry_script(classes_root, *entry.script, replacements, do_register);
            FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT class_object_table::register_class_objects(DWORD context, DWORD flags)
{
    for (const class_object_entry& entry : entries_) {
        if (entry.make_factory == nullptr) {
            continue;
        }
        com_ptr<IClassFactory> factory;
        if (const HRESULT hr = entry.make_factory(factory.put()); FAILED(hr)) {
            return hr;
        }
        DWORD cookie = 0;
        if (const HRESULT hr = CoRegisterClassObject(entry.clsid, factory.get(), context, flags, &cookie);
            FAILED(hr)) {
            return hr;
        }
        try {
            cookies_.push_back(cookie);
        } catch (...) {
            CoRevokeClassObject(cookie);
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

void class_object_table::revoke() noexcept
{
    for (const DWORD cookie : cookies_) {
        CoRevokeClassObject(cookie);
    }
    cookies_.clear();
}

} // namespace atl
