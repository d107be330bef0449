#include "device_impl/device_impl_tools/uvc_payload_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct header_case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool pts_64bit;
    bool valid;
    std::uint32_t fid;
    bool end_of_frame;
    std::uint64_t pts;
    std::uint8_t length;
    bool error = false; // bit 6: the camera marks the payload bad
};

TEST(uvc_payload_header, lengths_flags_and_time_stamps_are_checked_against_the_bytes_received)
{
    const header_case cases[] = {
        {"nothing received", {}, false, false, 0, false, 0, 0},
        {"one byte", {2}, false, false, 0, false, 0, 0},
        {"bHeaderLength 0", {0, 0x03, 9, 9}, false, false, 0, false, 0, 0},
        {"bHeaderLength 1", {1, 0x03, 9, 9}, false, false, 0, false, 0, 0},
        {"bHeaderLength beyond the bytes", {12, 0x02, 0, 0}, false, false, 0, false, 0, 0},
        {"two bytes, FID and EOF", {2, 0x03}, false, true, 1, true, 0, 2},
        {"no PTS bit: time stamp 0", {6, 0x00, 1, 2, 3, 4}, false, true, 0, false, 0, 6},
        {"32-bit PTS in 6 bytes", {6, 0x04, 0x78, 0x56, 0x34, 0x12}, false, true, 0, false, 0x12345678, 6},
        {"32-bit PTS in 5 bytes", {5, 0x04, 1, 2, 3}, false, false, 0, false, 0, 0},
        {"64-bit PTS in 6 bytes", {6, 0x04, 1, 2, 3, 4}, true, false, 0, false, 0, 0},
        {"64-bit PTS in 12 bytes",
         {12, 0x07, 1, 2, 3, 4, 5, 6, 7, 0x80, 0, 0},
         true,
         true,
         1,
         true,
         0x8007060504030201ull,
         12},
        {"header shorter than the payload", {2, 0x01, 0xAA, 0xBB}, false, true, 1, false, 0, 2},
        {"error bit", {2, 0x40}, false, true, 0, false, 0, 2, true},
        {"error bit with FID, EOF and PTS", {6, 0x47, 1, 0, 0, 0}, false, true, 1, true, 1, 6, true},
        {"bits 3 to 5 and 7 are no error", {2, 0xB8}, false, true, 0, false, 0, 2, false},
    };
    for (const auto& c : cases) {
        const cam::payload_info info = cam::parse_payload_header(c.bytes, c.pts_64bit);
        EXPECT_EQ(info.valid, c.valid) << c.what;
        if (c.valid) {
            EXPECT_EQ(info.fid, c.fid) << c.what;
            EXPECT_EQ(info.end_of_frame, c.end_of_frame) << c.what;
            EXPECT_EQ(info.pts, c.pts) << c.what;
            EXPECT_EQ(info.header_length, c.length) << c.what;
            EXPECT_EQ(info.error, c.error) << c.what;
        }
    }
}

} // namespace
