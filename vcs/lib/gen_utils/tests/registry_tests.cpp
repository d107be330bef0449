#include "gen_utils/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "gen_utils/win32_utils.h"

namespace {

// A fresh key under HKCU per test, deleted afterwards.
struct registry_test : ::testing::Test {
    std::wstring path;
    utils::unique_hkey key;

    void SetUp() override
    {
        path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
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
};

TEST_F(registry_test, read_value_checks_type_and_buffer_size)
{
    const DWORD seven = 7;
    set(L"dword", REG_DWORD, &seven, sizeof(seven));

    DWORD out = 0;
    EXPECT_EQ(utils::reg_read_value(key.get(), L"dword", &out, sizeof(out), REG_DWORD), ERROR_SUCCESS);
    EXPECT_EQ(out, 7u);

    std::uint64_t wide = 0;
    EXPECT_EQ(utils::reg_read_value(key.get(), L"dword", &wide, sizeof(wide), REG_QWORD), ERROR_INVALID_PARAMETER);
    std::uint16_t small = 0;
    EXPECT_EQ(utils::reg_read_value(key.get(), L"dword", &small, sizeof(small), REG_DWORD), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(small, 0u); // nothing written on refusal
    EXPECT_EQ(utils::reg_read_value(key.get(), L"missing", &out, sizeof(out), REG_DWORD), ERROR_FILE_NOT_FOUND);
}

TEST_F(registry_test, empty_name_reads_the_default_value)
{
    const DWORD value = 42;
    set(L"", REG_DWORD, &value, sizeof(value));
    DWORD out = 0;
    EXPECT_EQ(utils::reg_read_value(key.get(), L"", &out, sizeof(out), REG_DWORD), ERROR_SUCCESS);
    EXPECT_EQ(out, 42u);
}

TEST_F(registry_test, read_string_takes_exactly_the_stored_characters)
{
    // Stored without a terminating zero, as the service writes strings (the
    // character behind the data keeps the registry from adding one).
    const wchar_t abc[] = {L'a', L'b', L'c', L'!'};
    set(L"plain", REG_SZ, abc, 6);
    std::wstring out = L"old";
    EXPECT_EQ(utils::reg_read_string(key.get(), L"plain", out), ERROR_SUCCESS);
    EXPECT_EQ(out, L"abc");

    // A stored terminating zero is one of the characters read.
    set(L"terminated", REG_SZ, L"xy", 6);
    EXPECT_EQ(utils::reg_read_string(key.get(), L"terminated", out), ERROR_SUCCESS);
    EXPECT_EQ(out, std::wstring(L"xy\0", 3));

    // An odd byte count neither fails nor reads past the value.
    set(L"odd", REG_SZ, abc, 3);
    EXPECT_EQ(utils::reg_read_string(key.get(), L"odd", out), ERROR_SUCCESS);
    EXPECT_EQ(out, L"ab"); // the third byte is the low half of the second character

    set(L"empty", REG_SZ, L"", 0);
    EXPECT_EQ(utils::reg_read_string(key.get(), L"empty", out), ERROR_SUCCESS);
    EXPECT_EQ(out, L"");
}

TEST_F(registry_test, read_string_of_another_type_leaves_the_string_alone)
{
    const DWORD one = 1;
    set(L"number", REG_DWORD, &one, sizeof(one));
    std::wstring out = L"untouched";
    EXPECT_EQ(utils::reg_read_string(key.get(), L"number", out), ERROR_SUCCESS);
    EXPECT_EQ(out, L"untouched");
    EXPECT_EQ(utils::reg_read_string(key.get(), L"missing", out), ERROR_FILE_NOT_FOUND);
}

} // namespace
