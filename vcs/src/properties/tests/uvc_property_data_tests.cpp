// The standard UVC controls as records: which bits announce which controls,
// how values read, consistency logging, the white-balance store names and
// the exposure exponents.

#include "properties/uvc_exposure.h"
#include "properties/uvc_property_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen_utils/log.h"

namespace {

using namespace uvc_property;
using bytes = std::vector<std::uint8_t>;

// A VideoControl interface with a camera terminal, a processing unit and
// extension units, and a minimal VideoStreaming interface.
bytes camera(const bytes& ct_controls, const bytes& pu_controls, const std::vector<std::pair<bytes, bytes>>& xus)
{
    bytes vc;
    bytes ct{static_cast<std::uint8_t>(15 + ct_controls.size()), 0x24, 2, 1, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0,
             static_cast<std::uint8_t>(ct_controls.size())};
    ct.insert(ct.end(), ct_controls.begin(), ct_controls.end());
    vc.insert(vc.end(), ct.begin(), ct.end());
    bytes pu{static_cast<std::uint8_t>(10 + pu_controls.size()), 0x24, 5, 2, 1, 0, 0,
             static_cast<std::uint8_t>(pu_controls.size())};
    pu.insert(pu.end(), pu_controls.begin(), pu_controls.end());
    pu.insert(pu.end(), {0, 0});
    vc.insert(vc.end(), pu.begin(), pu.end());
    std::uint8_t id = 3;
    for (const auto& [guid, controls] : xus) {
        bytes xu{static_cast<std::uint8_t>(25 + controls.size()), 0x24, 6, id++};
        xu.insert(xu.end(), guid.begin(), guid.end());
        xu.insert(xu.end(), {static_cast<std::uint8_t>(controls.size() * 8), 1, 2,
                             static_cast<std::uint8_t>(controls.size())});
        xu.insert(xu.end(), controls.begin(), controls.end());
        xu.push_back(0);
        vc.insert(vc.end(), xu.begin(), xu.end());
    }
    bytes header{13, 0x24, 1, 0x10, 0x01, static_cast<std::uint8_t>(13 + vc.size()), 0, 0, 0x6C, 0xDC, 0x02, 1, 1};
    bytes set{9, 0x02, 0, 0, 2, 1, 0, 0x80, 250, 9, 0x04, 0, 0, 0, 14, 1, 0, 0};
    set.insert(set.end(), header.begin(), header.end());
    set.insert(set.end(), vc.begin(), vc.end());
    bytes vs{9, 0x04, 1, 0, 1, 14, 2, 0, 0, 14, 0x24, 1, 0, 14, 0, 0x81, 0, 4, 1, 0, 0, 1, 0,
             7, 0x05, 0x81, 2, 0x00, 0x04, 0};
    set.insert(set.end(), vs.begin(), vs.end());
    set[2] = static_cast<std::uint8_t>(set.size());
    set[3] = static_cast<std::uint8_t>(set.size() >> 8);
    return set;
}

std::vector<UVCPropertyData> controls_of(const bytes& set)
{
    cam::uvc_cam::uvc_descriptor_tree tree;
    EXPECT_TRUE(tree.build(set));
    return announced_controls(tree);
}

const bytes vendor_guid(vendor_extension_unit_guid.begin(), vendor_extension_unit_guid.end());

TEST(uvc_property_data, bits_of_each_unit_become_records_with_table_selector_and_length)
{
    bytes other_guid = vendor_guid;
    other_guid[0] ^= 0xFF;
    // CT bits 1, 3, 17; PU bits 0, 7, 12 and an unlisted bit 18; XU bits 0, 2
    // (not listed), 8; an XU of another GUID.
    const auto controls =
        controls_of(camera({0x0A, 0x00, 0x02}, {0x81, 0x10, 0x04}, {{vendor_guid, {0x05, 0x01}}, {other_guid, {0xFF}}}));
    struct row {
        std::uint32_t kind, selector, length;
        std::uint8_t unit;
    } expected[] = {
        {unit_ct, 0x02, 1, 1}, {unit_ct, 0x04, 4, 1}, {unit_ct, 0x08, 1, 1}, {unit_pu, 0x02, 2, 2},
        {unit_pu, 0x0C, 4, 2}, {unit_pu, 0x0B, 1, 2}, {unit_xu, 0x01, 1, 3}, {unit_xu, 0x09, 4, 3},
    };
    ASSERT_EQ(controls.size(), std::size(expected));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].kind, expected[i].kind) << i;
        EXPECT_EQ(controls[i].selector, expected[i].selector) << i;
        EXPECT_EQ(controls[i].length, expected[i].length) << i;
        EXPECT_EQ(controls[i].unit_id, expected[i].unit) << i;
    }
}

UVCPropertyData control(std::uint32_t length, std::int64_t min, std::int64_t max)
{
    UVCPropertyData c;
    c.kind = unit_pu;
    c.length = length;
    for (std::size_t i = 0; i < 4; ++i) {
        c.minimum[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(min) >> (8 * i));
        c.maximum[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(max) >> (8 * i));
    }
    return c;
}

TEST(uvc_property_data, values_read_by_length_and_range_or_bit_map)
{
    struct row {
        std::uint32_t length;
        std::int64_t min, max;
        std::int32_t read_max;
        bool range;
    } rows[] = {
        {1, 0, 255, 255, true},       // one byte reads unsigned
        {2, 0, 0xFFFF, -1, false},    // 0 / -1 is a bit map
        {2, -64, 64, 64, true},       {4, 1, 100000, 100000, true},
        {1, 0, 0, 0, false},          {4, 0, 0xFFFFFFFF, -1, false},
    };
    for (const auto& r : rows) {
        const auto c = control(r.length, r.min, r.max);
        EXPECT_EQ(UVCPropertyData::read(c.maximum, c.length), r.read_max) << r.length << "/" << r.max;
        EXPECT_EQ(c.is_range(), r.range) << r.length << "/" << r.max;
    }
    auto c = control(2, 0, 10);
    c.set_value(-2);
    EXPECT_EQ(c.value(), -2);
    EXPECT_EQ(c.description(), "property (PU ctrl=0x0,unit_id=0x0)");
}

TEST(uvc_property_data, inconsistencies_are_logged)
{
    std::vector<std::string> lines;
    const auto saved = service_log_level.load();
    service_log_level = 3;
    set_log_sink(1, [&](std::uint32_t, const char* text) { lines.emplace_back(text); });
    auto inverted = control(2, 10, 5);
    inverted.info = 3;
    inverted.set_value(20);
    check_consistency(inverted);
    auto bitmap = control(1, 0, 0);
    bitmap.info = 3;
    bitmap.resolution[0] = 0x09;
    bitmap.resolution_read = true;
    bitmap.default_value[0] = 0x02;
    bitmap.default_read = true;
    check_consistency(bitmap);
    set_log_sink(1, nullptr);
    service_log_level = saved;
    auto has = [&](const std::string& part) {
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has("invalid min > max [10, 5]"));
    EXPECT_TRUE(has("invalid val=20 outside range of [10, 5]"));
    EXPECT_TRUE(has("invalid def=0x2 not in available bits of 0x9"));
}

TEST(uvc_property_data, whitebalance_component_keeps_its_own_name_beside_temperature)
{
    UVCPropertyData temperature;
    temperature.kind = unit_pu;
    temperature.selector = 0x0A;
    temperature.length = 2;
    UVCPropertyData component;
    component.kind = unit_pu;
    component.selector = 0x0C;
    component.length = 4;
    EXPECT_EQ(std::wstring(whitebalance_component_store_name({temperature, component})), L"WhitebalanceComponent");
    EXPECT_EQ(std::wstring(whitebalance_component_store_name({component})), L"WhitebalanceTemperature");
    temperature.length = 0; // failed to initialise: no temperature handler
    EXPECT_EQ(std::wstring(whitebalance_component_store_name({temperature, component})), L"WhitebalanceTemperature");
}

TEST(uvc_exposure, exponents_of_exposure_times)
{
    const std::pair<std::int64_t, std::int32_t> rows[] = {
        {-5, -14},  {0, -14},  {1, -13},    {10, -9},     {100, -6},  {1000, -3},
        {2500, -2}, {2501, -1}, {5000, -1}, {5001, 0},    {9999, 0},  {10000, 0},
        {19999, 0}, {20000, 1}, {40000, 2}, {2147483647, 17},
    };
    for (const auto& [n, d] : rows) {
        EXPECT_EQ(uvc_exposure_to_log2(n), d) << n;
    }
}

TEST(uvc_exposure, exposure_times_of_exponents_are_bounded)
{
    const std::pair<std::int32_t, std::optional<std::uint32_t>> rows[] = {
        {-2, 2500},          {-13, 1},           {-14, 0},          {-100, 0},     {-2147483647 - 1, 0},
        {0, 10000},          {3, 80000},         {18, 2621440000u}, {19, std::nullopt},
        {100, std::nullopt}, {2147483647, std::nullopt},
    };
    for (const auto& [d, n] : rows) {
        EXPECT_EQ(uvc_exposure_from_log2(d), n) << d;
    }
}

// The exponents a range reports send values inside the device's range; the
// others, and ranges that are none, send the exponent's own value.
TEST(uvc_exposure, reported_exponents_send_values_inside_the_device_range)
{
    struct row {
        std::int32_t d;
        std::int64_t min, max;
        std::optional<std::uint32_t> sent;
    } rows[] = {
        {-1, 1, 3000, 3000},      {-2, 1, 3000, 2500},      {-13, 1, 3000, 1},     {0, 1, 3000, 10000},
        {-14, 1, 3000, 0},        {0, 15000, 100000, 15000}, {3, 15000, 100000, 80000},
        {0, 3, 7000, 7000},       {-11, 3, 7000, 4},        {-14, 0, 3000, 0},     {17, 0, 2147483647, 1310720000u},
        {-1, 3000, 1, 5000},      {-1, -5, 3000, 5000},     {19, 0, 2147483647, std::nullopt},
    };
    for (const row& r : rows) {
        EXPECT_EQ(uvc_exposure_of_set(r.d, r.min, r.max), r.sent) << r.d << " in [" << r.min << ", " << r.max << "]";
    }
}

} // namespace
