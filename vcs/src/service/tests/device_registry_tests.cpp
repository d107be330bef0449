#include "service/device_registry.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <set>
#include <string>
#include <vector>

#include "gen_utils/win32_utils.h"

namespace {

struct device_registry_test : ::testing::Test {
    std::wstring path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    utils::unique_hkey key;

    void SetUp() override
    {
        HKEY raw = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                  nullptr),
                  ERROR_SUCCESS);
        key.reset(raw);
    }
    void TearDown() override
    {
        key.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    void set(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void expect_unreadable(const char* what)
    {
        SCOPED_TRACE(what);
        try {
            utils::device_registry::read_instance_clsid(key.get(), L"k");
            ADD_FAILURE() << "read";
        } catch (const std::exception& error) {
            EXPECT_STREQ(error.what(), "Failed to read key.");
        }
    }
};

TEST_F(device_registry_test, instance_clsid_must_be_a_non_zero_guid_text)
{
    expect_unreadable("missing");
    const DWORD number = 1;
    set(L"DevicePropertyInstanceCLSID", REG_DWORD, &number, sizeof(number));
    expect_unreadable("DWORD");
    const std::wstring zero = L"{00000000-0000-0000-0000-000000000000}";
    set(L"DevicePropertyInstanceCLSID", REG_SZ, zero.data(), static_cast<DWORD>(zero.size() * 2));
    expect_unreadable("zero GUID");
    const std::wstring junk = L"{not-a-guid}";
    set(L"DevicePropertyInstanceCLSID", REG_SZ, junk.data(), static_cast<DWORD>(junk.size() * 2));
    expect_unreadable("no GUID");
    set(L"DevicePropertyInstanceCLSID", REG_SZ, junk.data(), 3); // odd byte count
    expect_unreadable("odd size");

    // Written by the service (no zero) or by hand (with one): both read.
    const std::wstring text = L"{8C59D083-B06B-4D89-8D93-F19EB7956FC4}";
    for (const DWORD size : {static_cast<DWORD>(text.size() * 2), static_cast<DWORD>(text.size() * 2 + 2)}) {
        set(L"DevicePropertyInstanceCLSID", REG_SZ, text.c_str(), size);
        const DRM::device_entry entry = utils::device_registry::read_instance_clsid(key.get(), L"cam");
        EXPECT_EQ(win32::guid_to_wstring(entry.instance_clsid), text);
        EXPECT_EQ(entry.key_name, L"cam");
        EXPECT_TRUE(entry.removed);
        EXPECT_TRUE(entry.friendly_name.empty());
        EXPECT_EQ(entry.filter_clsid, GUID{});
    }
}

TEST_F(device_registry_test, created_device_keys_get_distinct_instance_clsids)
{
    const GUID filter = {0x9A49A4A3, 0x7000, 0x489B, {0x80, 0xAE, 0xB4, 0x1A, 0x78, 0x1A, 0x4C, 0xFB}};
    const auto first = utils::device_registry::create_device_key(key.get(), L"cam-1", L"First", filter);
    const auto second = utils::device_registry::create_device_key(key.get(), L"cam-2", L"Second", filter);
    EXPECT_NE(first.instance_clsid, second.instance_clsid);
    EXPECT_EQ(first.filter_clsid, filter);
    EXPECT_TRUE(first.removed);

    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key.get(), L"cam-1", 0, KEY_READ, &raw), ERROR_SUCCESS);
    const utils::unique_hkey device(raw);
    std::wstring name;
    EXPECT_EQ(utils::reg_read_string(device.get(), L"FriendlyName", name), ERROR_SUCCESS);
    EXPECT_STREQ(name.c_str(), L"First");
    EXPECT_EQ(utils::device_registry::read_instance_clsid(device.get(), L"cam-1").instance_clsid,
              first.instance_clsid);
}

TEST_F(device_registry_test, subkeys_enumerate_until_no_more_items)
{
    const std::set<std::wstring> expected = {L"a", L"_service_defaults", std::wstring(255, L'n')};
    for (const std::wstring& name : expected) {
        HKEY raw = nullptr;
        ASSERT_EQ(RegCreateKeyExW(key.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(raw);
    }
    std::set<std::wstring> seen;
    LSTATUS status = ERROR_SUCCESS;
    for (DWORD index = 0; index < 10; ++index) {
        std::wstring name;
        status = utils::reg_enum_subkey(key.get(), index, name);
        if (status != ERROR_SUCCESS) {
            break;
        }
        seen.insert(name);
    }
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(seen, expected);
}

} // namespace
