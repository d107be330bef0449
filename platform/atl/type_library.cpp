#include "atl/type_library.h"

#include <windows.h>

#include <initializer_list>
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

// True when Interface\{IID}\TypeLib in `view` names `libid`.
bool names_library(HKEY classes_root, const std::wstring& key_name, REGSAM view, const std::wstring& libid_text)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(classes_root, (key_name + L"\\TypeLib").c_str(), 0, KEY_READ | view, &raw) != ERROR_SUCCESS) {
        return false;
    }
    utils::unique_hkey typelib_key{raw};
    std::wstring named;
    utils::reg_read_string(typelib_key.get(), L"", named);
    while (!named.empty() && named.back() == L'\0') {
        named.pop_back();
    }
    return CompareStringOrdinal(named.c_str(), -1, libid_text.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Deletes `key_name` with everything below it in one registry view.
void delete_key_in_view(HKEY classes_root, const std::wstring& key_name, REGSAM view)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(classes_root, key_name.c_str(), 0, DELETE | KEY_READ | KEY_SET_VALUE | view, &raw) ==
        ERROR_SUCCESS) {
        const utils::unique_hkey key{raw};
        RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(classes_root, key_name.c_str(), view, 0);
}

// One place where the system's registration of a type library writes the
// interface keys: a classes root and the registry view it is reached in.
struct interface_view {
    HKEY classes_root;
    REGSAM view; // 0: the process's own view
};

// Deletes Interface\{IID} of every interface of the library whose TypeLib
// key names this library, in each of `places`.
void remove_interface_keys(std::initializer_list<interface_view> places, ITypeLib* library, const GUID& libid)
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
        for (const interface_view& place : places) {
            if (names_library(place.classes_root, key_name, place.view, libid_text)) {
                delete_key_in_view(place.classes_root, key_name, place.view);
            }
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
        // the interface keys that name it must not stay behind. Registration
        // wrote the automation interfaces into the 32-bit view as well,
        // through HKEY_CLASSES_ROOT as overridden above; that view is
        // reached the same way here (under Wine it is the machine's 32-bit
        // view even for a registration per user), which is where the
        // system's unregistration leaves them.
        LSTATUS status = ERROR_SUCCESS;
        HKEY root = open_classes_root(per_user, &status);
        if (root == nullptr) {
            return HRESULT_FROM_WIN32(status);
        }
        remove_interface_keys({{root, 0}, {HKEY_CLASSES_ROOT, KEY_WOW64_32KEY}}, library.get(), lib.guid);
        close_classes_root(root);
        return hr == TYPE_E_REGISTRYACCESS || hr == E_INVALIDARG ? S_OK : hr;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace atl
