#include "propertypage/value_text.h"
#include "propertypage/vcd_guid.h"

#include <gtest/gtest.h>

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

} // namespace
