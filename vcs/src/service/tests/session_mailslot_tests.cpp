#include "service/session_mailslot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
using namespace DShowDeviceService;

constexpr guid_bytes sample_guid{0x8C59D083, 0xB06B, 0x4D89, {0x8D, 0x93, 0xF1, 0x9E, 0xB7, 0x95, 0x6F, 0xC4}};

std::vector<unsigned char> bytes_of(const mailslot_event& event)
{
    std::vector<unsigned char> bytes(sizeof(event));
    std::memcpy(bytes.data(), &event, sizeof(event));
    return bytes;
}

TEST(mailslot_event, created_message_has_the_wire_layout)
{
    const auto bytes = bytes_of(make_mailslot_event(device_event::created, sample_guid, u"Cam A"));
    ASSERT_EQ(bytes.size(), 152u);
    const std::vector<unsigned char> head = {2, 0, 0, 0, 1, 0, 0, 0, 0x83, 0xD0, 0x59, 0x8C, 0x6B, 0xB0, 0x89, 0x4D,
                                             0x8D, 0x93, 0xF1, 0x9E, 0xB7, 0x95, 0x6F, 0xC4, 'C', 0, 'a', 0, 'm', 0,
                                             ' ', 0, 'A', 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<long>(head.size()), bytes.end(),
                            [](unsigned char b) { return b == 0; }));
}

TEST(mailslot_event, long_name_is_cut_to_63_characters_and_a_zero)
{
    const std::u16string seventy(70, u'x');
    const mailslot_event event = make_mailslot_event(device_event::removed, sample_guid, seventy);
    EXPECT_EQ(std::u16string(event.name, 63), seventy.substr(0, 63));
    EXPECT_EQ(event.name[63], u'\0');
    EXPECT_EQ(event.kind, 2u);
}

TEST(mailslot_event, closing_message_is_version_and_kind_only)
{
    const auto bytes = bytes_of(make_closing_event());
    std::vector<unsigned char> expected(152, 0);
    expected[0] = 2;
    expected[5] = 1; // 0x100
    EXPECT_EQ(bytes, expected);
}

TEST(mailslot_event, reader_takes_kind_guid_and_name)
{
    const auto bytes = bytes_of(make_mailslot_event(7, sample_guid, u"key-1"));
    const auto parsed = parse_mailslot_event(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->kind, 7u);
    EXPECT_EQ(parsed->device_guid, sample_guid);
    EXPECT_EQ(parsed->name, u"key-1");
}

TEST(mailslot_event, reader_skips_short_messages_and_other_versions)
{
    auto bytes = bytes_of(make_mailslot_event(1, sample_guid, u"k"));
    EXPECT_FALSE(parse_mailslot_event(bytes.data(), 151));
    EXPECT_FALSE(parse_mailslot_event(nullptr, 152));
    bytes[0] = 3;
    EXPECT_FALSE(parse_mailslot_event(bytes.data(), bytes.size()));
}

TEST(mailslot_event, reader_looks_at_the_first_152_bytes_of_a_long_message)
{
    auto bytes = bytes_of(make_mailslot_event(2, sample_guid, u"k"));
    bytes.resize(600, 0xEE);
    const auto parsed = parse_mailslot_event(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, u"k");
}

TEST(mailslot_event, name_without_zero_ends_with_its_field)
{
    mailslot_event event = make_mailslot_event(1, sample_guid, u"");
    std::fill(std::begin(event.name), std::end(event.name), u'k');
    std::vector<unsigned char> bytes = bytes_of(event);
    bytes.resize(300, 'z'); // what follows the field is not part of the name
    const auto parsed = parse_mailslot_event(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, std::u16string(64, u'k'));
}

TEST(session_mailslot, name_carries_the_session_as_signed_decimal)
{
    EXPECT_EQ(session_mailslot_name(1),
              u"\\\\.\\mailslot\\CamTovraService_list_changed\\{8C59D083-B06B-4D89-8D93-F19EB7956FC4}\\session_1");
    EXPECT_TRUE(session_mailslot_name(-1).ends_with(u"\\session_-1"));
    EXPECT_TRUE(session_mailslot_name(2147483647).ends_with(u"\\session_2147483647"));
}

TEST(session_mailslot, only_local_mailslot_names_are_accepted)
{
    struct row {
        std::u16string name;
        bool accepted;
    };
    const std::vector<row> rows = {
        {u"\\\\.\\mailslot\\app\\events", true},
        {u"\\\\.\\MailSlot\\App", true},
        {session_mailslot_name(3), true},
        {u"\\\\.\\mailslot\\a.b\\c..d", true},
        {u"\\\\.\\mailslot\\", false},
        {u"\\\\.\\mailslot", false},
        {u"C:\\windows\\win.ini", false},
        {u"\\\\.\\pipe\\x", false},
        {u"\\\\server\\mailslot\\x", false},
        {u"\\\\*\\mailslot\\x", false},
        {u"\\\\.\\mailslot\\..\\..\\C:\\x", false},
        {u"\\\\.\\mailslot\\a\\.\\b", false},
        {u"\\\\.\\mailslot\\a\\..", false},
        {u"\\\\.\\mailslot\\a/b", false},
        {std::u16string(u"\\\\.\\mailslot\\a\0b", 15), false},
        {u"\\\\.\\mailslot\\" + std::u16string(255 - 13, u'n'), true},
        {u"\\\\.\\mailslot\\" + std::u16string(256 - 13, u'n'), false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(is_local_mailslot_name(r.name), r.accepted) << std::string(r.name.begin(), r.name.end());
    }
}

} // namespace
