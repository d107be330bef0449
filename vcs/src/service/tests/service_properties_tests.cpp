#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gen_utils/file_version.h"
#include "gen_utils/log.h"
#include "properties/property_store_registry.h"
#include "service/service_properties.h"

namespace {

using service::get_service_property;
using service::set_service_property;

constexpr HRESULT short_buffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
// One key per test process: ctest runs the cases of this file in parallel.
const std::wstring scratch_key = L"Software\\CamTovraTests\\service_properties_" + std::to_wstring(GetCurrentProcessId());
const wchar_t* const scratch = scratch_key.c_str();

class service_properties : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
        store_ = std::make_unique<utils::property_store_registry>(HKEY_CURRENT_USER, scratch, KEY_READ | KEY_WRITE);
        service_log_level = 0;
    }
    void TearDown() override
    {
        store_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
        RegDeleteKeyW(HKEY_CURRENT_USER, scratch);
        service_log_level = 0;
    }

    std::unique_ptr<utils::property_store_registry> store_;
};

TEST_F(service_properties, size_queries_short_buffers_and_unknown_ids)
{
    const struct {
        std::uint32_t id;
        unsigned long size;
    } known[] = {{5, 8}, {24, 4}, {25, 4}, {26, 8}};
    for (const auto& row : known) {
        unsigned long size = 0;
        EXPECT_EQ(get_service_property(row.id, nullptr, 16, &size, store_.get()), S_FALSE) << row.id;
        EXPECT_EQ(size, row.size) << row.id;
        unsigned char buffer[16] = {};
        size = 0;
        EXPECT_EQ(get_service_property(row.id, buffer, 0, &size, store_.get()), S_FALSE) << row.id;
        EXPECT_EQ(get_service_property(row.id, buffer, row.size - 1, &size, store_.get()), short_buffer) << row.id;
        EXPECT_EQ(size, row.size) << row.id;
    }
    unsigned char buffer[8] = {};
    unsigned long size = 1234;
    EXPECT_EQ(get_service_property(6, buffer, 8, &size, store_.get()), E_NOTIMPL);
    EXPECT_EQ(size, 1234u) << "an unknown id leaves the size alone";
    EXPECT_EQ(get_service_property(26, buffer, 8, nullptr, store_.get()), E_POINTER);
    EXPECT_EQ(set_service_property(5, buffer, 8, store_.get()), E_NOTIMPL);
    EXPECT_EQ(set_service_property(26, buffer, 8, store_.get()), E_NOTIMPL);
    EXPECT_EQ(set_service_property(0xFFFFFFFF, nullptr, 0, store_.get()), E_NOTIMPL);
}

TEST_F(service_properties, log_level_takes_the_first_byte_and_rejects_missing_or_short_data)
{
    const unsigned char level[4] = {0x07, 0x01, 0x00, 0x00};
    EXPECT_EQ(set_service_property(25, level, 4, nullptr), S_OK);
    std::uint32_t read = 0;
    unsigned long size = 0;
    EXPECT_EQ(get_service_property(25, reinterpret_cast<unsigned char*>(&read), 4, &size, nullptr), S_OK);
    EXPECT_EQ(read, 7u);
    EXPECT_EQ(set_service_property(25, nullptr, 4, nullptr), E_FAIL);
    EXPECT_EQ(set_service_property(25, level, 0, nullptr), E_FAIL);
    EXPECT_EQ(set_service_property(25, level, 3, nullptr), short_buffer);
    EXPECT_EQ(service_log_level.load(), 7u);
}

TEST_F(service_properties, export_debug_properties_is_stored_as_one_or_zero)
{
    std::uint32_t value = 0x55;
    EXPECT_EQ(set_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, store_.get()), S_OK);
    std::int64_t stored = -1;
    ASSERT_TRUE(store_->read_int(L"export_debug_properties", stored));
    EXPECT_EQ(stored, 1);

    std::uint32_t read = 0;
    unsigned long size = 0;
    EXPECT_EQ(get_service_property(24, reinterpret_cast<unsigned char*>(&read), 4, &size, store_.get()), S_OK);
    EXPECT_EQ(read, 1u);

    value = 0;
    EXPECT_EQ(set_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, store_.get()), S_OK);
    EXPECT_EQ(get_service_property(24, reinterpret_cast<unsigned char*>(&read), 4, &size, store_.get()), S_OK);
    EXPECT_EQ(read, 0u);
}

TEST_F(service_properties, export_debug_properties_fails_without_a_store_or_a_value)
{
    std::uint32_t value = 1;
    unsigned long size = 0;
    EXPECT_EQ(set_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, nullptr), E_FAIL);
    EXPECT_EQ(get_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, &size, nullptr), E_FAIL);
    EXPECT_EQ(get_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, &size, store_.get()), E_FAIL);
    utils::property_store_registry read_only(HKEY_CURRENT_USER, scratch, KEY_READ);
    EXPECT_EQ(set_service_property(24, reinterpret_cast<unsigned char*>(&value), 4, &read_only), E_FAIL)
        << "a store that refuses the write";
}

TEST_F(service_properties, process_id_and_file_version_are_this_processs_own)
{
    std::uint64_t process_id = 0;
    unsigned long size = 0;
    EXPECT_EQ(get_service_property(26, reinterpret_cast<unsigned char*>(&process_id), 8, &size, nullptr), S_OK);
    EXPECT_EQ(process_id, GetCurrentProcessId());

    // This test program carries no version block: version 0 is a failure.
    std::uint64_t version = 0;
    const HRESULT hr = get_service_property(5, reinterpret_cast<unsigned char*>(&version), 8, &size, nullptr);
    EXPECT_EQ(hr, utils::get_module_file_version().packed() == 0 ? E_FAIL : S_OK);
}

} // namespace
