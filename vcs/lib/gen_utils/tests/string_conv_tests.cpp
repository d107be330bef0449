#include "gen_utils/string_conv.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(string_conv, round_trips_text_with_non_ascii_and_embedded_nul)
{
    const std::string utf8 = "Kamera \xC3\xBC\0ber \xE2\x82\xAC \xF0\x9F\x93\xB7"s; // u-umlaut, euro, a 4-byte emoji
    const std::wstring utf16 = L"Kamera \u00FC\0ber \u20AC \U0001F4F7"s;
    EXPECT_EQ(utils::to_utf16(utf8), utf16);
    EXPECT_EQ(utils::to_utf8(utf16), utf8);
    EXPECT_EQ(utils::to_utf8(utils::to_utf16(utf8)), utf8);
    EXPECT_EQ(utils::to_utf16(utf8).size(), utf16.size()); // the NUL is kept, not an end
}

TEST(string_conv, empty_and_null_input_give_empty_output)
{
    EXPECT_EQ(utils::to_utf8(std::wstring_view{}), "");
    EXPECT_EQ(utils::to_utf16(std::string_view{}), L"");
    EXPECT_EQ(utils::to_utf8(nullptr, 5), "");
    EXPECT_EQ(utils::to_utf16(nullptr, 5), L"");
}

TEST(string_conv, invalid_sequences_become_replacement_characters)
{
    // With flags 0 the system replaces what it cannot decode instead of failing.
    EXPECT_EQ(utils::to_utf16("a\xFF" "b"s), L"a\uFFFDb");
    const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b'};
    EXPECT_EQ(utils::to_utf8(lone_surrogate, 3), "a\xEF\xBF\xBD" "b");
}

TEST(string_conv, view_from_c_string_stops_at_the_first_nul)
{
    EXPECT_EQ(utils::string_view_from_cstr("ab\0cd"), "ab");
    EXPECT_TRUE(utils::string_view_from_cstr(static_cast<const char*>(nullptr)).empty());
    EXPECT_EQ(utils::string_view_from_cstr(L"xy"), L"xy");
}

} // namespace
