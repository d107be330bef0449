#include "properties/genicam_value_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using drv_genicam::exposure_step_to_microseconds;
using drv_genicam::microseconds_to_exposure_step;

constexpr std::int32_t i32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t i32_max = std::numeric_limits<std::int32_t>::max();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(exposure_steps, microseconds_map_to_powers_of_two_steps)
{
    struct row {
        double us;
        std::int32_t step;
    };
    const row rows[] = {
        {10000, -6},      {15625, -6},      {15626, -5},      {7813, -6},   {7812, -7},   {600000, 0},       {500001, 0},
        {500000, -1},     {250001, -1},     {250000, -2},     {999999.9, 0}, {1000000, 0},     {1999999, 0},
        {2000000, 1},     {4000000, 2},     {3999999, 1},     {1, -19},      {0.9, -14},       {0, -14},
        {-5, -14},        {1e30, 79},       {inf, 1100},      {-inf, -14},
    };
    for (const row& r : rows) {
        const auto step = microseconds_to_exposure_step(r.us);
        ASSERT_TRUE(step.has_value()) << r.us;
        EXPECT_EQ(*step, r.step) << r.us;
    }
    EXPECT_FALSE(microseconds_to_exposure_step(nan).has_value());
}

TEST(exposure_steps, steps_map_back_without_overflow)
{
    struct row {
        std::int32_t step;
        double us;
    };
    const row rows[] = {
        {-6, 15625},   {-1, 500000},  {0, 1000000}, {2, 4000000}, {31, 2147483648.0 * 1e6}, {-19, 1},
        {-20, 0},      {-31, 0},      {-100, 0},    {i32_min, 0}, {100, std::ldexp(1e6, 100)},
        {i32_max, std::numeric_limits<double>::max()},
    };
    for (const row& r : rows) {
        EXPECT_EQ(exposure_step_to_microseconds(r.step), r.us) << r.step;
    }
}

TEST(exposure_steps, a_step_read_back_is_the_step_written)
{
    for (std::int32_t step = -19; step <= 40; ++step) {
        const auto back = microseconds_to_exposure_step(exposure_step_to_microseconds(step));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, step);
    }
}

TEST(record_values, integers_and_doubles_saturate_at_the_i32_limits)
{
    EXPECT_EQ(drv_genicam::saturate_i32(std::numeric_limits<std::int64_t>::max()), i32_max);
    EXPECT_EQ(drv_genicam::saturate_i32(std::numeric_limits<std::int64_t>::min()), i32_min);
    EXPECT_EQ(drv_genicam::saturate_i32(-5), -5);
    EXPECT_EQ(drv_genicam::saturate_i32(i32_max), i32_max);

    struct row {
        double in;
        std::int32_t truncated;
        std::int32_t rounded;
        std::int32_t hundredths;
    };
    const row rows[] = {
        {12.5, 12, 13, 1250},          {-12.5, -12, -13, -1250},   {0.499, 0, 0, 49},
        {-0.5, 0, -1, -50},            {1e30, i32_max, i32_max, i32_max}, {-1e30, i32_min, i32_min, i32_min},
        {inf, i32_max, i32_max, i32_max}, {2147483647.9, i32_max, i32_max, i32_max},
        {-2147483648.9, i32_min, i32_min, i32_min},
    };
    for (const row& r : rows) {
        EXPECT_EQ(drv_genicam::truncate_to_i32(r.in), r.truncated) << r.in;
        EXPECT_EQ(drv_genicam::round_to_i32(r.in), r.rounded) << r.in;
        EXPECT_EQ(drv_genicam::to_hundredths(r.in), r.hundredths) << r.in;
    }
    EXPECT_FALSE(drv_genicam::truncate_to_i32(nan).has_value());
    EXPECT_FALSE(drv_genicam::round_to_i32(nan).has_value());
    EXPECT_FALSE(drv_genicam::to_hundredths(nan).has_value());
}

} // namespace
