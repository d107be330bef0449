// The frame-interval lists offered for a range of average times per frame.

#include "properties/kyv_xu_framerate_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gen_utils/log.h"

namespace {

using kyv_xu_props::build_framerate_list_new;
using list = std::vector<std::uint64_t>;

TEST(kyv_xu_framerate_list, lists_round_rates_between_the_bounds_longest_first)
{
    const struct {
        std::int64_t min;
        std::int64_t max;
        list expected;
    } rows[] = {
        // 30 fps lies inside the range (10^7 / 333333 is slightly above 30),
        // so the minimum is not appended a second time.
        {333333, 10000000,
         {10000000, 5000000, 3333333, 2500000, 2000000, 1666666, 1428571, 1250000, 1111111, 1000000, 833333, 714285,
          625000, 555555, 500000, 400000, 333333}},
        {166666, 333333, {333333, 285714, 250000, 222222, 200000, 166666}},
        {100000, 100000, {100000}},
        {200000, 100000, {100000}},
        // Above 240 the rates step by 50: 250, 300, 350, then the minimum.
        {25000, 40000, {40000, 33333, 28571, 25000}},
        // A minimum that is no round rate is appended after the last one.
        {123457, 150000, {150000, 142857, 125000, 123457}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.min) + ".." + std::to_string(r.max));
        EXPECT_EQ(build_framerate_list_new(r.min, r.max), r.expected);
    }
}

TEST(kyv_xu_framerate_list, a_bound_of_zero_or_below_gives_an_empty_list_and_a_log_line)
{
    const std::uint32_t saved = service_log_level.exchange(1);
    std::vector<std::string> lines;
    set_log_sink(1, [&](std::uint32_t, const char* text) { lines.emplace_back(text); });
    EXPECT_TRUE(build_framerate_list_new(0, 100000).empty());
    EXPECT_TRUE(build_framerate_list_new(100000, 0).empty());
    EXPECT_TRUE(build_framerate_list_new(-5, 100000).empty());
    set_log_sink(1, nullptr);
    service_log_level = saved;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[CamTovra] Invalid avg time passed to build_framerate_list_new, min_avg_time=0, "
                        "max_avg_time=100000.\n");
}

TEST(kyv_xu_framerate_list, a_very_long_range_stays_ordered_and_ends_at_the_minimum)
{
    const list l = build_framerate_list_new(1, 0x7FFFFFFF);
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l.front(), 0x7FFFFFFFu);
    EXPECT_EQ(l.back(), 1u);
    for (std::size_t i = 1; i < l.size(); ++i) {
        ASSERT_LT(l[i], l[i - 1]) << i;
    }
}

} // namespace
