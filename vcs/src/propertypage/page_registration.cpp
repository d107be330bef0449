#include "propertypage/page_registration.h"

#include "gen_utils/registry.h"

#include <objbase.h>

namespace camtovra_propertypage {

namespace {

constexpr wchar_t media_sets_key[] = L"System\\CurrentControlSet\\Control\\MediaSets\\";
// The longest path Windows gives a module, in characters.
constexpr DWORD longest_module_path = 32768;

std::wstring braced(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring clsid_key(const CLSID& clsid)
{
    return L"CLSID\\" + braced(clsid);
}

HRESULT from_win32(LSTATUS status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<unsigned long>(status));
}

LSTATUS set_string(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS create_key(HKEY root, const std::wstring& name, REGSAM access, utils::unique_hkey& key)
{
    HKEY made = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(root, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &made, nullptr);
    key.reset(status == ERROR_SUCCESS ? made : nullptr);
    return status;
}

HRESULT register_page(const page_template& page, const std::wstring& module)
{
    utils::unique_hkey class_key;
    LSTATUS status = create_key(HKEY_CLASSES_ROOT, clsid_key(page.page_clsid), KEY_WRITE, class_key);
    if (status == ERROR_SUCCESS) {
        status = set_string(class_key.get(), nullptr, page.display_name);
    }
    utils::unique_hkey server_key;
    if (status == ERROR_SUCCESS) {
        status = create_key(class_key.get(), L"InprocServer32", KEY_WRITE, server_key);
    }
    if (status == ERROR_SUCCESS) {
        status = set_string(server_key.get(), nullptr, module);
    }
    if (status == ERROR_SUCCESS) {
        status = set_string(server_key.get(), L"ThreadingModel", L"Both");
    }
    if (status != ERROR_SUCCESS) {
        return from_win32(status);
    }
    if (IsEqualGUID(page.property_set, GUID{})) {
        return S_OK;
    }
    if (IsEqualGUID(page.page_clsid, GUID{})) {
        return E_FAIL;
    }
    utils::unique_hkey set_key;
    status = create_key(HKEY_LOCAL_MACHINE,
                        media_sets_key + braced(page.property_set) + L"\\PropertyPages\\" + braced(page.page_clsid),
                        KEY_ALL_ACCESS, set_key);
    if (status == ERROR_SUCCESS) {
        status = set_string(set_key.get(), nullptr, page.display_name);
    }
    return from_win32(status);
}

} // namespace

HRESULT register_pages(std::span<const page_template> pages, const std::wstring& module)
{
    for (const page_template& page : pages) {
        if (const HRESULT hr = register_page(page, module); FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT unregister_pages(std::span<const page_template> pages)
{
    for (const page_template& page : pages) {
        delete_key_tree(HKEY_CLASSES_ROOT, clsid_key(page.page_clsid));
        if (!IsEqualGUID(page.property_set, GUID{})) {
            delete_key_tree(HKEY_LOCAL_MACHINE, media_sets_key + braced(page.property_set));
        }
    }
    return S_OK;
}

HRESULT delete_key_tree(HKEY root, const std::wstring& subkey, key_deleter delete_key)
{
    if (subkey.empty()) {
        return E_FAIL;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, MAXIMUM_ALLOWED, &opened) != ERROR_SUCCESS) {
        return S_OK;
    }
    utils::unique_hkey key(opened);
    std::wstring previous;
    for (;;) {
        wchar_t name[260];
        DWORD length = 260;
        if (RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        // Index 0 again after it was deleted: a subkey that stays would be
        // deleted for ever.
        if (previous == name) {
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        }
        if (const HRESULT hr = delete_key_tree(key.get(), name, delete_key); FAILED(hr)) {
            return hr;
        }
        previous = name;
    }
    key.reset();
    return from_win32(delete_key(root, subkey.c_str()));
}

std::wstring module_path(HMODULE module, DWORD initial_capacity)
{
    std::wstring path(initial_capacity == 0 ? 1 : initial_capacity, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        // A path that fills the buffer may have been cut.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= longest_module_path) {
            return {};
        }
        path.resize(std::min<std::size_t>(path.size() * 2, longest_module_path));
    }
}

} // namespace camtovra_propertypage
