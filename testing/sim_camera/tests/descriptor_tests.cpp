// The simulated camera's descriptor set is well formed, so that parsers of
// later layers meet a valid UVC camera unless a test breaks it on purpose.

#include "descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

using sim_camera::bytes;

// Descriptor types (and class-specific subtypes) in order of appearance.
std::vector<std::pair<int, int>> walk(const bytes& set)
{
    std::vector<std::pair<int, int>> seen;
    std::size_t at = 0;
    while (at < set.size()) {
        const std::uint8_t length = set[at];
        EXPECT_GE(length, 2) << "at " << at;
        EXPECT_LE(at + length, set.size()) << "at " << at;
        if (length < 2 || at + length > set.size()) {
            break;
        }
        seen.emplace_back(set[at + 1], length > 2 ? set[at + 2] : -1);
        at += length;
    }
    EXPECT_EQ(at, set.size());
    return seen;
}

TEST(sim_descriptors, uvc_configuration_is_a_well_formed_chain_with_its_units)
{
    const bytes set = sim_camera::uvc_camera_configuration();
    ASSERT_GE(set.size(), 9u);
    EXPECT_EQ(set[2] | (set[3] << 8), static_cast<int>(set.size())); // wTotalLength
    EXPECT_EQ(set[4], 2);                                             // two interfaces
    std::map<std::pair<int, int>, int> count;
    for (const auto& entry : walk(set)) {
        ++count[entry];
    }
    auto n = [&](int type, int subtype) { return count[std::make_pair(type, subtype)]; };
    EXPECT_EQ(n(0x0B, 0), 1);    // interface association, first interface 0
    EXPECT_EQ(n(0x24, 0x01), 2); // VideoControl header and VideoStreaming input header
    EXPECT_EQ(n(0x24, 0x02), 1); // camera terminal
    EXPECT_EQ(n(0x24, 0x05), 3); // processing unit and the two frames
    EXPECT_EQ(n(0x24, 0x06), 1); // vendor extension unit
    EXPECT_EQ(n(0x24, 0x03), 1); // output terminal
    EXPECT_EQ(n(0x24, 0x04), 1); // uncompressed format
    EXPECT_EQ(n(0x30, 15), 1);   // SuperSpeed companion of the bulk endpoint
    const auto unit = std::search(set.begin(), set.end(), std::begin(sim_camera::vendor_extension_unit_guid),
                                  std::end(sim_camera::vendor_extension_unit_guid));
    EXPECT_NE(unit, set.end());
}

TEST(sim_descriptors, padding_reaches_the_asked_size_with_valid_descriptors)
{
    auto spec = sim_camera::uvc_camera_spec();
    spec.pad_to = 9000;
    const bytes set = sim_camera::build_configuration(spec);
    EXPECT_EQ(set.size(), 9000u);
    EXPECT_EQ(set[2] | (set[3] << 8), 9000);
    walk(set);
}

TEST(sim_descriptors, device_and_string_descriptors_carry_their_lengths)
{
    const bytes device = sim_camera::device_descriptor();
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(device[0], 18);
    EXPECT_EQ(device[2] | (device[3] << 8), 0x0320);
    EXPECT_EQ(device[14], 1);
    EXPECT_EQ(device[15], 2);
    const bytes text = sim_camera::string_descriptor(u"Cam");
    EXPECT_EQ(text, (bytes{8, 3, 'C', 0, 'a', 0, 'm', 0}));
}

} // namespace
