#include <gtest/gtest.h>

#include <string>

#include "atl/registry_script.h"

namespace {

using atl::key_removal;
using atl::registry_key;
using atl::registry_value;

// One key per test process: ctest runs the cases of this file in parallel.
const std::wstring scratch_key = L"Software\\CamTovraTests\\registry_script_" + std::to_wstring(GetCurrentProcessId());
const wchar_t* const scratch = scratch_key.c_str();

class registry_script_apply : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(root_);
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
        RegDeleteKeyW(HKEY_CURRENT_USER, scratch);
    }

    bool exists(const std::wstring& path) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    std::wstring text(const std::wstring& path, const wchar_t* name) const
    {
        wchar_t buffer[512] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        if (RegGetValueW(root_, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
            return L"<missing>";
        }
        return buffer;
    }
    void create(const std::wstring& path, const wchar_t* value_name = nullptr)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (value_name != nullptr) {
            const DWORD one = 1;
            RegSetValueExW(key, value_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        }
        RegCloseKey(key);
    }

    // Parent (no remove) { Forced (force remove) = %NAME% { Child { Leaf = 'x' } }, Plain { val v = 'w' } }
    static atl::registry_script script()
    {
        return {7,
                {registry_key{L"Parent",
                              key_removal::no_remove,
                              {},
                              {
                                  registry_key{L"Forced",
                                               key_removal::force_remove,
                                               {registry_value::string(L"", L"%NAME%")},
                                               {registry_key{L"Child", key_removal::normal, {},
                                                             {registry_key{L"Leaf", key_removal::normal,
                                                                           {registry_value::string(L"", L"x")}, {}}}}}},
                                  registry_key{L"%KEY%", key_removal::normal,
                                               {registry_value::string(L"v", L"w"),
                                                registry_value::dword(L"n", 3)},
                                               {}},
                              }}}};
    }
    static atl::replacement_map replacements() { return {{L"NAME", L"named"}, {L"KEY", L"Plain"}}; }

    HKEY root_ = nullptr;
};

TEST_F(registry_script_apply, register_writes_keys_and_values_with_replacements)
{
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), true), S_OK);
    EXPECT_EQ(text(L"Parent\\Forced", nullptr), L"named");
    EXPECT_EQ(text(L"Parent\\Forced\\Child\\Leaf", nullptr), L"x");
    EXPECT_EQ(text(L"Parent\\Plain", L"v"), L"w");
    DWORD number = 0;
    DWORD size = sizeof(number);
    EXPECT_EQ(RegGetValueW(root_, L"Parent\\Plain", L"n", RRF_RT_REG_DWORD, nullptr, &number, &size), ERROR_SUCCESS);
    EXPECT_EQ(number, 3u);
}

TEST_F(registry_script_apply, register_clears_a_force_removed_key_first)
{
    create(L"Parent\\Forced\\Stale", L"old");
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), true), S_OK);
    EXPECT_FALSE(exists(L"Parent\\Forced\\Stale"));
    EXPECT_TRUE(exists(L"Parent\\Forced\\Child\\Leaf"));
}

TEST_F(registry_script_apply, unregister_removes_the_scripts_keys_but_keeps_parents_and_foreign_content)
{
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), true), S_OK);
    create(L"Parent\\Other");
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), false), S_OK);
    EXPECT_TRUE(exists(L"Parent"));
    EXPECT_TRUE(exists(L"Parent\\Other"));
    EXPECT_FALSE(exists(L"Parent\\Forced"));
    EXPECT_FALSE(exists(L"Parent\\Plain"));

    // A plain key that holds something of someone else's keeps it.
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), true), S_OK);
    create(L"Parent\\Plain", L"foreign");
    ASSERT_EQ(atl::apply_registry_script(root_, script(), replacements(), false), S_OK);
    EXPECT_TRUE(exists(L"Parent\\Plain"));
    EXPECT_EQ(text(L"Parent\\Plain", L"v"), L"<missing>");
}

TEST_F(registry_script_apply, unregister_of_nothing_succeeds)
{
    EXPECT_EQ(atl::apply_registry_script(root_, script(), replacements(), false), S_OK);
    EXPECT_FALSE(exists(L"Parent"));
}

TEST(registry_script_replacements, names_are_replaced_and_unknown_or_unclosed_ones_kept)
{
    const atl::replacement_map map{{L"APPID", L"{id}"}, {L"MODULE", L"C:\\a b.exe"}};
    EXPECT_EQ(atl::expand_replacements(L"%APPID%", map), L"{id}");
    EXPECT_EQ(atl::expand_replacements(L"x%MODULE%y", map), L"xC:\\a b.exey");
    EXPECT_EQ(atl::expand_replacements(L"%OTHER%", map), L"%OTHER%");
    EXPECT_EQ(atl::expand_replacements(L"100%%", map), L"100%");
    EXPECT_EQ(atl::expand_replacements(L"50% off", map), L"50% off");
    EXPECT_EQ(atl::expand_replacements(L"", map), L"");
}

} // namespace
