#pragma once
// Registry scripts as data: a tree of keys, each with an optional default
// value and named values, applied with the registry API. Texts may name
// replacements as %NAME%, filled in when the script is applied.
//
// Registering creates every key and writes its values; a force-remove key is
// deleted with everything below it first. Unregistering leaves a no-remove key
// in place (only its script children are visited), deletes a force-remove key
// with everything below it, and for any other key deletes the script's values
// and children and then the key itself when nothing else is left in it.

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace atl {

enum class key_removal { normal, no_remove, force_remove };

struct registry_value {
    enum class kind { string, dword };
    std::wstring name; // empty: the key's default value
    kind type = kind::string;
    std::wstring text; // for strings; replacements allowed
    DWORD number = 0;  // for DWORDs

    static registry_value string(std::wstring name, std::wstring text)
    {
        return {std::move(name), kind::string, std::move(text), 0};
    }
    static registry_value dword(std::wstring name, DWORD number)
    {
        return {std::move(name), kind::dword, {}, number};
    }
};

struct registry_key {
    std::wstring name;
    key_removal removal = key_removal::normal;
    std::vector<registry_value> values;
    std::vector<registry_key> subkeys;
};

// One script: keys below the classes root (HKCR, or the user's classes).
struct registry_script {
    int id = 0;
    std::vector<registry_key> keys;
};

using replacement_map = std::map<std::wstring, std::wstring, std::less<>>;

// Texts with every %NAME% of the map replaced; "%%" stands for one '%'. An
// unknown name is left as it stands.
std::wstring expand_replacements(std::wstring_view text, const replacement_map& replacements);

// Applies (register) or removes (unregister) a script below `root`. Returns
// S_OK or the HRESULT of the first registry error; unregistering treats keys
// and values that are already gone as removed.
HRESULT apply_registry_script(HKEY root, const registry_script& script, const replacement_map& replacements,
                              bool do_register);

// The root that scripts are applied below: HKEY_CLASSES_ROOT for the machine,
// HKCU\Software\Classes (opened or created) for the user. The caller closes a
// key that is not predefined with close_classes_root.
HKEY open_classes_root(bool per_user, LSTATUS* error = nullptr);
void close_classes_root(HKEY root) noexcept;

} // namespace atl
