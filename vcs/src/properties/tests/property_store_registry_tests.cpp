#include "properties/property_store_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gen_utils/win32_utils.h"

namespace {

struct property_store_test : ::testing::Test {
    std::wstring path;
    std::unique_ptr<utils::property_store_registry> store;

    void SetUp() override
    {
        path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
        store = std::make_unique<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
        ASSERT_TRUE(store->is_open());
    }
    void TearDown() override
    {
        store.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    // Writes a raw value next to the store, as another program would.
    void set_raw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    DWORD raw_size(const wchar_t* name)
    {
        DWORD size = 0;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                               &size),
                  ERROR_SUCCESS);
        return size;
    }
};

TEST_F(property_store_test, integers_round_trip_as_qwords)
{
    for (std::int64_t value : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{0x123456789ABCDEF0},
                               std::int64_t{INT64_MIN}}) {
        ASSERT_TRUE(store->write_int(L"exposure", value));
        std::int64_t read = 0;
        ASSERT_TRUE(store->read_int(L"exposure", read));
        EXPECT_EQ(read, value);
    }
    EXPECT_EQ(store->value_kind(L"exposure"), 2);
    EXPECT_EQ(raw_size(L"exposure"), 8u);
}

TEST_F(property_store_test, dword_values_read_as_unsigned_integers)
{
    const DWORD seven = 7;
    set_raw(L"seven", REG_DWORD, &seven, sizeof(seven));
    std::int64_t read = -1; // the whole integer is replaced, not only its low half
    ASSERT_TRUE(store->read_int(L"seven", read));
    EXPECT_EQ(read, 7);
    EXPECT_EQ(store->value_kind(L"seven"), 2);

    const DWORD top = 0xFFFFFFFF;
    set_raw(L"top", REG_DWORD, &top, sizeof(top));
    ASSERT_TRUE(store->read_int(L"top", read));
    EXPECT_EQ(read, 0xFFFFFFFFll);
}

TEST_F(property_store_test, values_of_other_types_or_sizes_are_not_integers)
{
    const unsigned char bytes[] = {1, 2, 3, 4};
    set_raw(L"binary", REG_BINARY, bytes, sizeof(bytes));
    std::int64_t read = 0;
    EXPECT_FALSE(store->read_int(L"binary", read));
    EXPECT_EQ(store->value_kind(L"binary"), 0);

    set_raw(L"short_qword", REG_QWORD, bytes, 4);
    EXPECT_FALSE(store->read_int(L"short_qword", read));
    EXPECT_FALSE(store->read_int(L"missing", read));
    EXPECT_EQ(store->value_kind(L"missing"), 0);

    ASSERT_TRUE(store->write_string(L"text", L"12"));
    EXPECT_FALSE(store->read_int(L"text", read));
}

TEST_F(property_store_test, strings_round_trip_without_a_terminating_zero)
{
    ASSERT_TRUE(store->write_string(L"name", L"abc"));
    EXPECT_EQ(raw_size(L"name"), 6u);
    std::wstring read;
    ASSERT_TRUE(store->read_string(L"name", read));
    EXPECT_EQ(read, L"abc");
    EXPECT_EQ(store->value_kind(L"name"), 1);

    ASSERT_TRUE(store->write_string(L"unicode", L"Kamera \u00FC \u20AC"));
    ASSERT_TRUE(store->read_string(L"unicode", read));
    EXPECT_EQ(read, L"Kamera \u00FC \u20AC");

    ASSERT_TRUE(store->write_string(L"", L"default value"));
    ASSERT_TRUE(store->read_string(L"", read));
    EXPECT_EQ(read, L"default value");
}

TEST_F(property_store_test, string_read_of_a_number_is_true_and_empty)
{
    const DWORD one = 1;
    set_raw(L"number", REG_DWORD, &one, sizeof(one));
    std::wstring read = L"old";
    EXPECT_TRUE(store->read_string(L"number", read));
    EXPECT_EQ(read, L"");
    EXPECT_FALSE(store->read_string(L"missing", read));
}

TEST_F(property_store_test, remove_deletes_the_value_once)
{
    ASSERT_TRUE(store->write_int(L"gone", 1));
    EXPECT_TRUE(store->remove(L"gone"));
    EXPECT_FALSE(store->remove(L"gone"));
    EXPECT_EQ(store->value_kind(L"gone"), 0);
}

TEST_F(property_store_test, sees_values_written_by_another_store_on_the_same_key)
{
    utils::property_store_registry reader(HKEY_CURRENT_USER, path, KEY_READ);
    ASSERT_TRUE(store->write_int(L"shared", 5));
    std::int64_t read = 0;
    EXPECT_TRUE(reader.read_int(L"shared", read));
    EXPECT_EQ(read, 5);
    EXPECT_FALSE(reader.write_int(L"shared", 6)); // opened read-only
}

TEST(property_store_unopened, answers_false_everywhere)
{
    // A parent that is no key at all: the store opens nothing.
    utils::property_store_registry store(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), L"x", KEY_READ);
    EXPECT_FALSE(store.is_open());
    std::int64_t number = 3;
    std::wstring text = L"t";
    EXPECT_FALSE(store.read_int(L"a", number));
    EXPECT_FALSE(store.read_string(L"a", text));
    EXPECT_FALSE(store.write_int(L"a", 1));
    EXPECT_FALSE(store.write_string(L"a", L"b"));
    EXPECT_FALSE(store.remove(L"a"));
    EXPECT_EQ(store.value_kind(L"a"), 0);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(text, L"t");

    std::uint32_t level = 9;
    EXPECT_FALSE(call_string_callable(store, L"service_log_level", level));
    EXPECT_EQ(level, 9u);
}

} // namespace
