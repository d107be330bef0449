#include "atl/registry_script.h"

#include "gen_utils/registry.h"

namespace atl {

namespace {

HRESULT from_status(LSTATUS status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

bool is_gone(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

LSTATUS delete_tree(HKEY parent, const std::wstring& name)
{
    const LSTATUS status = RegDeleteTreeW(parent, name.c_str());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // RegDeleteTreeW with a subkey name removes the key itself too; make sure.
    const LSTATUS removed = RegDeleteKeyW(parent, name.c_str());
    return is_gone(removed) ? ERROR_SUCCESS : removed;
}

LSTATUS write_value(HKEY key, const registry_value& value, const replacement_map& replacements)
{
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    if (value.type == registry_value::kind::dword) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                              sizeof(value.number));
    }
    const std::wstring text = expand_replacements(value.text, replacements);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

HRESULT register_key(HKEY parent, const registry_key& spec, const replacement_map& replacements)
{
    const std::wstring name = expand_replacements(spec.name, replacements);
    if (spec.removal == key_removal::force_remove) {
        if (const LSTATUS status = delete_tree(parent, name); status != ERROR_SUCCESS && !is_gone(status)) {
            return from_status(status);
        }
    }
    HKEY raw = nullptr;
    if (const LSTATUS status = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_READ | KEY_WRITE, nullptr, &raw, nullptr);
        status != ERROR_SUCCESS) {
        return from_status(status);
    }
    const utils::unique_hkey key{raw};
    for (const registry_value& value : spec.values) {
        if (const LSTATUS status = write_value(key.get(), value, replacements); status != ERROR_SUCCESS) {
            return from_status(status);
        }
    }
    for (const registry_key& child : spec.subkeys) {
        if (const HRESULT hr = register_key(key.get(), child, replacements); FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

bool key_is_empty(HKEY key)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return subkeys == 0 && values == 0;
}

HRESULT unregister_key(HKEY parent, const registry_key& spec, const replacement_map& replacements)
{
    const std::wstring name = expand_replacements(spec.name, replacements);
    if (spec.removal == key_removal::force_remove) {
        const LSTATUS status = delete_tree(parent, name);
        return is_gone(status) ? S_OK : from_status(status);
    }
    HKEY raw = nullptr;
    if (const LSTATUS status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &raw);
        status != ERROR_SUCCESS) {
        return is_gone(status) ? S_OK : from_status(status);
    }
    utils::unique_hkey key{raw};
    for (const registry_key& child : spec.subkeys) {
        if (const HRESULT hr = unregister_key(key.get(), child, replacements); FAILED(hr)) {
            return hr;
        }
    }
    if (spec.removal == key_removal::no_remove) {
        return S_OK;
    }
    for (const registry_value& value : spec.values) {
        const LSTATUS status = RegDeleteValueW(key.get(), value.name.empty() ? nullptr : value.name.c_str());
        if (status != ERROR_SUCCESS && !is_gone(status)) {
            return from_status(status);
        }
    }
    const bool empty = key_is_empty(key.get());
    key.reset();
    if (empty) {
        const LSTATUS status = RegDeleteKeyW(parent, name.c_str());
        if (status != ERROR_SUCCESS && !is_gone(status)) {
            return from_status(status);
        }
    }
    return S_OK;
}

} // namespace

std::wstring expand_replacements(std::wstring_view text, const replacement_map& replacements)
{
    std::wstring out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find(L'%', pos);
        if (open == std::wstring_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        const std::size_t close = text.find(L'%', open + 1);
        if (close == std::wstring_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const std::wstring_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out.push_back(L'%');
        } else if (const auto found = replacements.find(name); found != replacements.end()) {
            out.append(found->second);
        } else {
            out.append(text.substr(open, close - open + 1));
        }
        pos = close + 1;
    }
    return out;
}

HRESULT apply_registry_script(HKEY root, const registry_script& script, const replacement_map& replacements,
                              bool do_register)
{
    for (const registry_key& key : script.keys) {
        const HRESULT hr =
            do_register ? register_key(root, key, replacements) : unregister_key(root, key, replacements);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HKEY open_classes_root(bool per_user, LSTATUS* error)
{
    if (error != nullptr) {
        *error = ERROR_SUCCESS;
    }
    if (!per_user) {
        return HKEY_CLASSES_ROOT;
    }
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        if (error != nullptr) {
            *error = status;
        }
        return nullptr;
    }
    return key;
}

void close_classes_root(HKEY root) noexcept
{
    if (root != nullptr && root != HKEY_CLASSES_ROOT) {
        RegCloseKey(root);
    }
}

} // namespace atl
