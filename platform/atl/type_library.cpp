#include "atl/type_library.h"

#include <windows.h>

#include <string>

#include "atl/com_ptr.h"
#include "atl/registry_script.h"
#include "gen_utils/registry.h"
#include "gen_utils/win32_utils.h"

namespace atl {

namespace {

std::wstring module_path()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

// While it lives, HKEY_CLASSES_ROOT of this process means the user's classes,
// so that the system's type-library registration writes there.
class classes_root_override {
public:
    explicit classes_root_override(bool per_user)
    {
        if (!per_user) {
            return;
        }
        user_classes_ = open_classes_root(true, &status_);
        if (user_classes_ != nullptr) {
            status_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, user_classes_);
            active_ = status_ == ERROR_SUCCESS;
        }
    }
    ~classes_root_override()
    {
        if (active_) {
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        }
        close_classes_root(user_classes_);
    }
    classes_root_override(const classes_root_override&) = delete;
    classes_root_override& operator=(const classes_root_override&) = delete;

    [[nodiscard]] LSTATUS status() const noexcept { return status_; }

private:
    HKEY user_classes_ = nullptr;
    LSTATUS status_ = ERROR_SUCCESS;
    bool active_ = false;
};

// Deletes Interface\{IID} of every interface of the library whose TypeLib
// key names this library.
void remove_interface_keys(HKEY classes_root, ITypeLib* library, const GUID& libid)
{
    const std::wstring libid_text = win32::guid_to_wstring(libid);
    const UINT count = library->GetTypeInfoCount();
    for (UINT index = 0; index < count; ++index) {
        com_ptr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(index, info.put()))) {
            continue;
        }
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes))) {
            continue;
        }
        const GUID iid = attributes->guid;
        const TYPEKIND kind = attributes->typekind;
        info->ReleaseTypeAttr(attributes);
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) {
            continue;
        }
        const std::wstring key_name = L"Interface\\" + win32::guid_to_wstring(iid);
        HKEY raw = nullptr;
        if (RegOpenKeyExW(classes_root, (key_name + L"\\TypeLib").c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
            continue;
        }
        utils::unique_hkey typelib_key{raw};
        std::wstring named;
        utils::reg_read_string(typelib_key.get(), L"", named);
        typelib_key.reset();
        while (!named.empty() && named.back() == L'\0') {
            named.pop_back();
        }
        if (CompareStringOrdinal(named.c_str(), -1, libid_text.c_str(), -1, TRUE) == CSTR_EQUAL) {
            RegDeleteTreeW(classes_root, key_name.c_str());
            RegDeleteKeyW(classes_root, key_name.c_str());
        }
    }
}

} // namespace

HRESULT load_module_type_library(ITypeLib** library) noexcept
{
    if (library == nullptr) {
        return E_POINTER;
    }
    *library = nullptr;
    const std::wstring path = module_path();
    if (path.empty()) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

HRESULT register_module_type_library(bool per_user) noexcept
{
    try {
        com_ptr<ITypeLib> library;
        if (const HRESULT hr = load_module_type_library(library.put()); FAILED(hr)) {
            return hr;
        }
        std::wstring path = module_path();
        const classes_root_override override_root(per_user);
        if (override_root.status() != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(override_root.status());
        }
        return RegisterTypeLib(library.get(), path.data(), nullptr);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT unregister_module_type_library(bool per_user) noexcept
{
    try {
        com_ptr<ITypeLib> library;
        if (const HRESULT hr = load_module_type_library(library.put()); FAILED(hr)) {
            return hr;
        }
        TLIBATTR* attributes = nullptr;
        if (const HRESULT hr = library->GetLibAttr(&attributes); FAILED(hr)) {
            return hr;
        }
        const TLIBATTR lib = *attributes;
        library->ReleaseTLibAttr(attributes);

        const classes_root_override override_root(per_user);
        if (override_root.status() != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(override_root.status());
        }
        const HRESULT hr = UnRegisterTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum, lib.lcid, lib.syskind);
        // The library's own key may already have gone with a registry script;
        // the interface keys that name it must not stay behind.
        LSTATUS status = ERROR_SUCCESS;
        HKEY root = open_classes_root(per_user, &status);
        if (root == nullptr) {
            return HRESULT_FROM_WIN32(status);
        }
        remove_interface_keys(root, library.get(), lib.guid);
        close_classes_root(root);
        return hr == TYPE_E_REGISTRYACCESS || hr == E_INVALIDARG ? S_OK : hr;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace atl
