// Registration of the page classes by regsvr32, and the registry walk that
// unregistration uses.

#include "propertypage/page_registration.h"

#include "gen_utils/registry.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using camtovra_propertypage::delete_key_tree;

const wchar_t* const page_classes[] = {
    L"{B167753E-7AB6-4198-937A-D0C017DCB4E7}", L"{3CE14B85-7A53-49A0-89F1-2B1D74EB35F6}",
    L"{968CCD0A-7FB3-4717-9ED8-370435A270CD}", L"{4E523FCD-7780-4AFF-9763-98714A651B23}"};
const wchar_t* const display_names[] = {L"CamTovra Exposure Controls", L"CamTovra Feature Controls",
                                        L"CamTovra Lens Controls", L"CamTovra Color Controls"};

// Every key below `path` of `root`, as paths relative to it.
void collect_keys(HKEY root, const std::wstring& path, std::set<std::wstring>& keys)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return;
    }
    utils::unique_hkey key(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::wstring child = path.empty() ? name : path + L"\\" + name;
        keys.insert(child);
        collect_keys(root, child, keys);
    }
}

std::set<std::wstring> machine_keys()
{
    std::set<std::wstring> keys;
    collect_keys(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\MediaSets", keys);
    return keys;
}

std::wstring string_value(HKEY root, const std::wstring& path, const wchar_t* name)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    utils::unique_hkey key(opened);
    std::wstring value;
    return utils::reg_read_string(key.get(), name == nullptr ? L"" : name, value) == ERROR_SUCCESS ? value
                                                                                                  : L"<no value>";
}

std::wstring without_terminator(std::wstring text)
{
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

DWORD run_regsvr32(const std::wstring& arguments)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const auto regsvr32 = test_support::start_program(std::wstring(system) + L"\\regsvr32.exe", arguments);
    return regsvr32 ? regsvr32.wait(60000) : 0xFFFFFFFF;
}

std::wstring lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return towlower(c); });
    return text;
}

// When a key was last given or lost a subkey or a value.
FILETIME last_written(HKEY root, const wchar_t* path)
{
    FILETIME written{};
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
        utils::unique_hkey key(opened);
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &written);
    }
    return written;
}

// The class keys whose in-process server is the module at `path`. The prefix
// holds Wine's classes and the service's too, so what this library wrote is
// found by its path, not by comparing the whole class tree. Subkeys are
// enumerated by index: a class that another process adds or removes during
// the walk shifts the keys after it, and one of them is then passed over.
// CLSID's last write time tells that apart from a class that is missing.
std::set<std::wstring> classes_naming(const std::wstring& path)
{
    std::set<std::wstring> keys;
    const FILETIME before = last_written(HKEY_CLASSES_ROOT, L"CLSID");
    collect_keys(HKEY_CLASSES_ROOT, L"CLSID", keys);
    const FILETIME after = last_written(HKEY_CLASSES_ROOT, L"CLSID");
    if (CompareFileTime(&before, &after) != 0) {
        ADD_FAILURE() << "a class key was added or removed below HKEY_CLASSES_ROOT\\CLSID while the classes were "
                         "read: a test that registers classes ran beside this one (it must hold this test's "
                         "resource locks)";
    }
    std::set<std::wstring> ours;
    for (const std::wstring& key : keys) {
        const std::wstring server = L"\\InprocServer32";
        if (key.size() > server.size() && key.compare(key.size() - server.size(), server.size(), server) == 0 &&
            lower(without_terminator(string_value(HKEY_CLASSES_ROOT, key, nullptr))) == lower(path)) {
            ours.insert(key.substr(0, key.size() - server.size()));
        }
    }
    return ours;
}

TEST(page_registration, regsvr32_writes_the_four_class_keys_and_removes_them_twice_over)
{
    HMODULE dll = LoadLibraryW(PAGE_DLL);
    ASSERT_NE(dll, nullptr);
    const std::wstring path = camtovra_propertypage::module_path(dll);
    FreeLibrary(dll);
    ASSERT_FALSE(path.empty());

    const std::set<std::wstring> machine_before = machine_keys();
    EXPECT_EQ(run_regsvr32(L"/s /u \"" + path + L"\""), 0u);
    ASSERT_EQ(classes_naming(path), std::set<std::wstring>{});
    ASSERT_EQ(run_regsvr32(L"/s \"" + path + L"\""), 0u);

    std::set<std::wstring> expected;
    for (const wchar_t* clsid : page_classes) {
        expected.insert(std::wstring(L"CLSID\\") + clsid);
    }
    EXPECT_EQ(classes_naming(path), expected);
    EXPECT_EQ(machine_keys(), machine_before);
    for (std::size_t i = 0; i < 4; ++i) {
        const std::wstring key = std::wstring(L"CLSID\\") + page_classes[i];
        std::set<std::wstring> below;
        collect_keys(HKEY_CLASSES_ROOT, key, below);
        EXPECT_EQ(below, std::set<std::wstring>{key + L"\\InprocServer32"});
        EXPECT_EQ(without_terminator(string_value(HKEY_CLASSES_ROOT, key, nullptr)), display_names[i]);
        EXPECT_EQ(without_terminator(string_value(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel")),
                  L"Both");
    }

    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(run_regsvr32(L"/s /u \"" + path + L"\""), 0u) << "unregistering, pass " << pass + 1;
        EXPECT_EQ(classes_naming(path), std::set<std::wstring>{});
        for (const wchar_t* clsid : page_classes) {
            EXPECT_EQ(string_value(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid, nullptr), L"<no key>");
        }
    }
}

class key_tree : public ::testing::Test {
protected:
    const std::wstring root = L"Software\\camtovra_page_registration_tests";

    void SetUp() override
    {
        delete_key_tree(HKEY_CURRENT_USER, root);
        for (const wchar_t* key : {L"\\a\\b\\stuck", L"\\a\\b\\free", L"\\a\\c"}) {
            HKEY made = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root + key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                      &made, nullptr),
                      ERROR_SUCCESS);
            utils::unique_hkey{made};
        }
    }
    void TearDown() override { delete_key_tree(HKEY_CURRENT_USER, root); }

    bool exists(const std::wstring& key) const
    {
        HKEY opened = nullptr;
        const bool found = RegOpenKeyExW(HKEY_CURRENT_USER, (root + key).c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS;
        utils::unique_hkey{opened};
        return found;
    }

    static LSTATUS WINAPI refuse_stuck(HKEY parent, LPCWSTR subkey)
    {
        return std::wstring(subkey) == L"stuck" ? ERROR_ACCESS_DENIED : RegDeleteKeyW(parent, subkey);
    }
};

TEST_F(key_tree, a_subkey_that_cannot_be_deleted_ends_the_walk_instead_of_looping)
{
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, root + L"\\a", &refuse_stuck), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(exists(L"\\a\\b\\stuck"));
    EXPECT_TRUE(exists(L"\\a"));

    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, root + L"\\a"), S_OK);
    EXPECT_FALSE(exists(L"\\a"));
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, root + L"\\a"), S_OK) << "a key that is gone counts as deleted";
    EXPECT_EQ(delete_key_tree(HKEY_CURRENT_USER, L""), E_FAIL);
}

TEST(module_path, a_path_longer_than_the_first_buffer_is_read_whole)
{
    HMODULE dll = LoadLibraryW(PAGE_DLL);
    ASSERT_NE(dll, nullptr);
    const std::wstring whole = camtovra_propertypage::module_path(dll);
    EXPECT_GT(whole.size(), 8u);
    EXPECT_EQ(camtovra_propertypage::module_path(dll, 4), whole) << "a buffer the path fills is not taken as the path";
    EXPECT_EQ(whole.substr(whole.size() - 25), L"camtovra_propertypage.dll");
    FreeLibrary(dll);
}

} // namespace
