// The byte layouts of the private property sets' replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_impl/camtovra/info_replies.h"

namespace {

using camtovra::write_kyv_reply;

std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

TEST(info_replies, service_information_carries_kind_version_and_build)
{
    std::vector<std::uint8_t> out(144, 0xCC);
    camtovra::write_service_info(out, 0x0001000200030004ull);
    EXPECT_EQ(load_le(out.data(), 4), 9u);
    EXPECT_EQ(load_le(out.data() + 4, 4), 0u);
    EXPECT_EQ(load_le(out.data() + 8, 8), 0x0001000200030004ull);
    const std::uint8_t fre[] = {'f', 0, 'r', 0, 'e', 0};
    EXPECT_EQ(std::memcmp(out.data() + 16, fre, sizeof fre), 0);
    for (std::size_t i = 22; i < 144; ++i) {
        ASSERT_EQ(out[i], 0) << i;
    }
}

TEST(info_replies, kyv_replies_are_zero_filled_and_placed)
{
    cam::device_information info;
    info.vendor_id = 0x1234;
    std::wcscpy(info.manufacturer, L"Maker");
    std::wcscpy(info.product, L"Cam");
    info.serial_number = 0x1122334455667788ull;
    struct row {
        std::uint32_t id;
        std::uint32_t size;
    } rows[] = {{100, 288}, {101, 288}, {102, 296}, {103, 288}};
    for (const auto& r : rows) {
        ASSERT_EQ(camtovra::kyv_reply_size(r.id), r.size);
        std::vector<std::uint8_t> out(r.size + 8, 0xCC);
        write_kyv_reply(r.id, info, 0xABCD, out);
        EXPECT_EQ(out[r.size], 0xCC) << r.id; // nothing past the reply
        EXPECT_EQ(load_le(out.data(), 24), 0u) << r.id;
        const char* text = reinterpret_cast<const char*>(out.data());
        switch (r.id) {
        case 100:
            EXPECT_EQ(load_le(out.data() + 24, 4), 0x1234u);
            EXPECT_STREQ(text + 28, "Maker");
            break;
        case 101:
            EXPECT_EQ(load_le(out.data() + 24, 8), 0x1122334455667788ull);
            EXPECT_STREQ(text + 32, "Cam");
            break;
        case 102:
            EXPECT_EQ(load_le(out.data() + 24, 4), 5u);
            EXPECT_EQ(load_le(out.data() + 28, 4), 7u);
            EXPECT_EQ(load_le(out.data() + 32, 4), 0xABCDu);
            EXPECT_STREQ(text + 36, "bla");
            break;
        case 103:
            EXPECT_EQ(load_le(out.data() + 24, 4), 66u);
            EXPECT_EQ(load_le(out.data() + 28, 8), 0u);
            break;
        }
    }
    EXPECT_EQ(camtovra::kyv_reply_size(99), 0u);
    EXPECT_EQ(camtovra::kyv_reply_size(104), 0u);
}

// A text field of 64 characters has no terminator: the product text right
// behind the manufacturer must not run on into the reply.
TEST(info_replies, full_text_fields_convert_exactly_their_64_characters)
{
    cam::device_information info;
    std::wmemset(info.manufacturer, L'M', 64);
    std::wmemset(info.product, L'P', 64);
    info.serial_number = 0x4141414141414141ull;
    std::vector<std::uint8_t> out(288, 0xCC);
    write_kyv_reply(100, info, 0, out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 28)), std::string(64, 'M'));
    write_kyv_reply(101, info, 0, out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 32)), std::string(64, 'P'));
    // Characters beyond 8 bits cannot be shown in 8-bit text.
    info.product[0] = L'\x263A';
    info.product[1] = L'\xE9';
    info.product[2] = L'\0';
    write_kyv_reply(101, info, 0, out);
    EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + 32), "?\xE9");
}

} // namespace
