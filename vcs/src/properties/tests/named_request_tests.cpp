#include "properties/named_request.h"

#include <gtest/gtest.h>

namespace {

TEST(named_request, splits_into_at_most_three_components)
{
    struct row {
        std::string_view text, target, attribute, third;
    };
    const row rows[] = {
        {"ExposureTime/Value", "ExposureTime", "Value", ""},
        {"TriggerMode/On/IsAvailable", "TriggerMode", "On", "IsAvailable"},
        {"A/B/C/D", "A", "B", "C"},
        {"A/B/C/", "A", "B", "C"},
        {"A/B/", "A", "B", ""},
        {"X", "X", "", ""},
        {"/Value", "", "Value", ""},
        {"", "", "", ""},
        {"//", "", "", ""},
    };
    for (const row& r : rows) {
        const auto split = drv_genicam::split_named_request(r.text);
        EXPECT_EQ(split.target, r.target) << r.text;
        EXPECT_EQ(split.attribute, r.attribute) << r.text;
        EXPECT_EQ(split.third, r.third) << r.text;
    }
}

} // namespace
