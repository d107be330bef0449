#include "propertypage/refresh_read_cache.h"
#include "propertypage/value_limits.h"
#include "propertypage/value_text.h"
#include "propertypage/vcd_guid.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cstdint>
#include <string>

namespace {

using VCDAdapterHelper::parse_int_strict;
using VCDAdapterHelper::trim_value_text;

TEST(value_text, trimming_removes_spaces_and_a_trailing_unit)
{
    const struct {
        const wchar_t* text;
        const wchar_t* unit;
        const wchar_t* expected;
    } cases[] = {
        {L"  12 ", L"", L"12"},       {L"1/250 sec", L"sec", L"1/250"},
        {L"0,5sec", L"sec", L"0,5"},  {L" 3 \t sec  ", L"sec", L"3"},
        {L"sec 3", L"sec", L"sec 3"}, {L"dB", L"dB", L""},
        {L"", L"sec", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(trim_value_text(c.text, c.unit)), c.expected) << c.text;
    }
}

TEST(value_text, integers_must_read_back_as_the_same_text)
{
    const struct {
        const wchar_t* text;
        bool ok;
        std::int32_t value;
    } cases[] = {
        {L"12", true, 12},
        {L" -5 ", true, -5},
        {L"0", true, 0},
        {L"2147483647", true, INT32_MAX},
        {L"-2147483648", true, INT32_MIN},
        {L"12a", false, 0},
        {L"012", false, 0},
        {L"", false, 0},
        {L"+1", false, 0},
        {L"-0", false, 0},
        {L"-", false, 0},
        {L"2147483648", false, 0},
        {L"99999999999999999999", false, 0},
        {L"1 2", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t value = 77;
        EXPECT_EQ(parse_int_strict(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 77) << c.text;
    }
}

// Typed numbers and shown ones, the same in every process locale (the native
// build checks them under a decimal-comma locale when the machine has one).
TEST(value_text, decimals_read_with_a_comma_or_a_full_stop_and_show_with_a_full_stop)
{
    struct locale_restorer {
        std::string previous = std::setlocale(LC_ALL, nullptr);
        ~locale_restorer() { std::setlocale(LC_ALL, previous.c_str()); }
    } restorer;
    for (const char* locale : {"C", "de_DE.UTF-8", "German"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) {
            continue;
        }
        SCOPED_TRACE(locale);
        const struct {
            const wchar_t* text;
            double value;
        } numbers[] = {{L"6,5", 6.5}, {L"6.5", 6.5}, {L"-0,75", -0.75}, {L",5", 0.5},
                       {L"2e3", 2000}, {L"7", 7},    {L"1,5,3", 1.5},   {L"3x", 3}};
        for (const auto& n : numbers) {
            double value = -1;
            EXPECT_TRUE(VCDAdapterHelper::parse_decimal_text(n.text, value)) << n.text;
            EXPECT_EQ(value, n.value) << n.text;
        }
        for (const wchar_t* bad : {L"", L",", L"x1", L"\u00bd", L"- 1"}) {
            double value = -1;
            EXPECT_FALSE(VCDAdapterHelper::parse_decimal_text(bad, value)) << bad;
            EXPECT_EQ(value, -1);
        }
        EXPECT_EQ(VCDAdapterHelper::fixed_point_text(6.5, 3), "6.500");
        EXPECT_EQ(VCDAdapterHelper::fixed_point_text(-0.0625, 2), "-0.06");
        EXPECT_EQ(VCDAdapterHelper::fixed_point_text(1234567.0, 3), "1234567.000") << "no thousands separator";
    }
}

TEST(vcd_guid, only_the_braced_form_parses)
{
    const auto parsed = parse_braced_guid("{B57D3000-0AC6-4819-A609-272A33140aca}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->data1, 0xB57D3000u);
    EXPECT_EQ(parsed->data2, 0x0AC6u);
    EXPECT_EQ(parsed->data3, 0x4819u);
    EXPECT_EQ(parsed->data4[0], 0xA6);
    EXPECT_EQ(parsed->data4[7], 0xCA);
    for (const char* bad : {"B57D3000-0AC6-4819-A609-272A33140ACA", "{B57D3000-0AC6-4819-A609-272A33140ACA",
                            "{B57D3000-0AC6-4819-A609-272A33140ACG}", "{B57D3000+0AC6-4819-A609-272A33140ACA}",
                            " {B57D3000-0AC6-4819-A609-272A33140ACA}", "", "Value"}) {
        EXPECT_FALSE(parse_braced_guid(bad)) << bad;
    }
    EXPECT_TRUE(guid_or_null("not a guid").is_null());
}

// Camera values at the ends of their types, carried without undefined
// behaviour (the sanitizers of the native build watch these).
TEST(value_limits, camera_values_past_the_page_types_saturate_at_their_ends)
{
    using namespace VCDAdapterHelper;
    EXPECT_EQ(saturate_32(3000000000), INT32_MAX);
    EXPECT_EQ(saturate_32(INT64_MIN), INT32_MIN);
    EXPECT_EQ(saturate_32(-5), -5);
    EXPECT_EQ(middle_of(INT64_MIN, INT64_MAX), -1);
    EXPECT_EQ(middle_of(std::int64_t{10}, std::int64_t{20}), 15);
    EXPECT_EQ(middle_of(-DBL_MAX, DBL_MAX), 0.0);
    EXPECT_EQ(single_precision(DBL_MAX), FLT_MAX);
    EXPECT_EQ(single_precision(-1e300), -FLT_MAX);
    EXPECT_EQ(single_precision(0.5), 0.5f);
    EXPECT_FALSE(fits_single_precision(1e300));
    EXPECT_FALSE(fits_single_precision(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(fits_single_precision(FLT_MAX));
}

TEST(refresh_read_cache, a_refresh_asks_once_per_request_and_keeps_nothing_past_its_end)
{
    VCDAdapterHelper::refresh_read_cache cache;
    int asked = 0;
    std::int32_t camera_value = 7;
    const auto read = [&](std::span<std::uint8_t> bytes) -> std::int32_t {
        ++asked;
        std::memcpy(bytes.data(), &camera_value, sizeof(camera_value));
        return camera_value < 0 ? -1 : 0; // a negative value stands for a failed read
    };
    const auto value_of = [&](char channel, std::int32_t& result) {
        std::int32_t value = 0;
        const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(&value), sizeof(value));
        result = cache.read_once(VCDAdapterHelper::request_key(channel, 1), bytes, read);
        return value;
    };
    std::int32_t result = 0;
    EXPECT_EQ(value_of('a', result), 7);
    EXPECT_EQ(value_of('a', result), 7);
    EXPECT_EQ(asked, 2) << "outside a refresh every read reaches the camera";

    cache.begin();
    cache.begin(); // a second control of the same item
    camera_value = 8;
    EXPECT_EQ(value_of('a', result), 8);
    camera_value = 9;
    EXPECT_EQ(value_of('a', result), 8);
    EXPECT_EQ(value_of('b', result), 9) << "another request is asked for";
    EXPECT_EQ(asked, 4);
    cache.end();
    EXPECT_EQ(value_of('a', result), 8) << "the refresh still runs";
    cache.forget(); // a write
    EXPECT_EQ(value_of('a', result), 9);
    camera_value = -3;
    cache.forget();
    value_of('a', result);
    EXPECT_EQ(result, -1);
    camera_value = 4;
    value_of('a', result);
    EXPECT_EQ(result, -1) << "a failure is an answer too";
    EXPECT_EQ(asked, 6);
    cache.end();
    EXPECT_EQ(cache.kept(), 0u);
    EXPECT_EQ(value_of('a', result), 4);
    EXPECT_EQ(result, 0);
}

} // namespace
