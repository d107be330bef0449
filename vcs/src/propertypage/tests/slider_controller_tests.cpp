// The slider controllers: positions, texts and values of integer ranges,
// absolute values and exposure times, and the ranges they refuse to map.

#include "propertypage/abs_val_exposure_slider_controller.h"
#include "propertypage/range_slider_controller.h"
#include "tests/fake_slider_item.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <limits>

namespace VCDPropUI {
namespace {

using fakes::fake_item_state;
using fakes::fake_slider_item;

template <class Controller>
struct fixture {
    std::shared_ptr<fake_item_state> state = std::make_shared<fake_item_state>();
    slider_controller_ptr controller{new Controller(std::make_unique<fake_slider_item>(state))};
};

fixture<CAbsValExposureSliderController> exposure_1_10000_to_4()
{
    fixture<CAbsValExposureSliderController> f;
    f.state->abs_range = {0.0001, 4, 0.01};
    f.state->unit = L"sec";
    f.state->scale_kind = logarithmic_scale;
    return f;
}

bool available(const slider_controller_ptr& controller)
{
    bool result = true;
    EXPECT_TRUE(controller->is_available(result));
    return result;
}

TEST(range_slider_controller, positions_count_steps_from_the_minimum)
{
    fixture<CRangeSliderController> f;
    f.state->range = {0, 255, 0, 5};
    int first = -1;
    int last = -1;
    ASSERT_TRUE(f.controller->get_position_range(first, last));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 51);

    ASSERT_TRUE(f.controller->set_position(51));
    ASSERT_TRUE(f.controller->set_position(3));
    EXPECT_EQ(f.state->values_set, (std::vector<std::int32_t>{255, 15}));

    f.state->value = 102;
    int position = -1;
    ASSERT_TRUE(f.controller->get_position(position));
    EXPECT_EQ(position, 20);
    EXPECT_EQ(f.state->range_reads, 1) << "the range is read once and kept";
}

TEST(range_slider_controller, a_wide_range_keeps_every_position)
{
    fixture<CRangeSliderController> f;
    f.state->range = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 0, 1};
    int first = -1;
    int last = -1;
    ASSERT_TRUE(f.controller->get_position_range(first, last));
    EXPECT_EQ(last, std::numeric_limits<std::int32_t>::max()) << "as many positions as the control has";
    f.state->range = {};
    fixture<CRangeSliderController> g;
    g.state->range = {-100000, 100000, 0, 1};
    ASSERT_TRUE(g.controller->get_position_range(first, last));
    EXPECT_EQ(last, 200000);
    ASSERT_TRUE(g.controller->set_position(200000));
    EXPECT_EQ(g.state->values_set.back(), 100000);
}

// More steps than a slider has positions (a 32-bit integer without bounds):
// each position stands for as many steps as it takes, the position shown is
// the one that writes the value back, and the ends write the bounds.
TEST(range_slider_controller, a_range_past_the_positions_shows_and_writes_the_same_value)
{
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
    struct range_case {
        std::int32_t minimum, maximum, step;
    };
    for (const range_case& c : {range_case{lowest, highest, 1}, range_case{-1, highest, 1},
                                range_case{lowest, highest - 1, 1}, range_case{lowest, highest, 2}}) {
        SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum << " step " << c.step);
        fixture<CRangeSliderController> f;
        f.state->range = {c.minimum, c.maximum, 0, c.step};
        int first_position = -1;
        int last = -1;
        ASSERT_TRUE(f.controller->get_position_range(first_position, last));
        EXPECT_EQ(first_position, 0);
        EXPECT_GT(last, 1 << 29) << "no coarser than it must be";

        f.state->value = 100;
        int position = -1;
        ASSERT_TRUE(f.controller->get_position(position));
        EXPECT_GT(position, 0);
        EXPECT_LT(position, last);
        ASSERT_TRUE(f.controller->set_position(position));
        int again = -1;
        ASSERT_TRUE(f.controller->get_position(again));
        EXPECT_EQ(again, position) << "wrote " << f.state->value;
        EXPECT_LE(f.state->value, 100);
        EXPECT_GT(f.state->value, 100 - 2 * c.step - 1);

        ASSERT_TRUE(f.controller->set_position(last));
        ASSERT_TRUE(f.controller->set_position(0));
        ASSERT_TRUE(f.controller->set_position(last - 1));
        const auto& written = f.state->values_set;
        ASSERT_EQ(written.size(), 4u);
        EXPECT_EQ(written[1], c.maximum - static_cast<std::int32_t>((std::int64_t{c.maximum} - c.minimum) % c.step));
        EXPECT_EQ(written[2], c.minimum);
        EXPECT_LT(written[3], written[1]);
        f.state->value = c.maximum;
        ASSERT_TRUE(f.controller->get_position(position));
        EXPECT_EQ(position, last);
        f.state->value = c.minimum;
        ASSERT_TRUE(f.controller->get_position(position));
        EXPECT_EQ(position, 0);
    }
    // The issue's own case, exactly: 100 shows where it is and writes back as 100.
    fixture<CRangeSliderController> f;
    f.state->range = {lowest, highest, 0, 1};
    f.state->value = 100;
    int position = -1;
    ASSERT_TRUE(f.controller->get_position(position));
    ASSERT_TRUE(f.controller->set_position(position));
    EXPECT_EQ(f.state->values_set.back(), 100);
}

TEST(range_slider_controller, a_step_of_zero_disables_instead_of_dividing)
{
    for (const std::int32_t step : {0, -2}) {
        fixture<CRangeSliderController> f;
        f.state->range = {0, 100, 0, step};
        int first = -1;
        int last = -1;
        int position = -1;
        EXPECT_FALSE(f.controller->get_position_range(first, last));
        EXPECT_FALSE(f.controller->get_position(position));
        EXPECT_FALSE(f.controller->set_position(1));
        EXPECT_FALSE(available(f.controller));
        EXPECT_TRUE(f.state->values_set.empty());
        std::wstring text;
        EXPECT_TRUE(f.controller->get_text(text)) << "the value itself can still be shown";
    }
}

TEST(range_slider_controller, texts_are_strict_decimal_integers)
{
    fixture<CRangeSliderController> f;
    EXPECT_TRUE(f.controller->set_from_text(L"  42 "));
    EXPECT_TRUE(f.controller->set_from_text(L"-7"));
    for (const wchar_t* bad : {L"042", L"+1", L"4x", L"", L"1.5", L"99999999999"}) {
        EXPECT_FALSE(f.controller->set_from_text(bad)) << "text " << std::wstring(bad).size();
        EXPECT_FALSE(f.controller->reads_as_value(bad)) << "text " << std::wstring(bad).size();
    }
    EXPECT_EQ(f.state->values_set, (std::vector<std::int32_t>{42, -7}));
    std::wstring text;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text, L"-7");
}

TEST(range_slider_controller, a_failing_item_fails_every_read_and_is_read_again)
{
    fixture<CRangeSliderController> f;
    f.state->reads_fail = true;
    int first = 0;
    int last = 0;
    std::wstring text = L"kept";
    bool flag = true;
    EXPECT_FALSE(f.controller->get_position_range(first, last));
    EXPECT_FALSE(f.controller->get_text(text));
    EXPECT_FALSE(f.controller->is_available(flag));
    EXPECT_EQ(text, L"kept");
    f.state->reads_fail = false;
    EXPECT_TRUE(f.controller->get_position_range(first, last)) << "a failed range read is not kept";
}

TEST(abs_val_slider_controller, linear_positions_span_0_to_100)
{
    fixture<CAbsValSliderController> f;
    f.state->abs_range = {-10, 30, 0};
    f.state->unit = L"dB";
    int first = -1;
    int last = -1;
    ASSERT_TRUE(f.controller->get_position_range(first, last));
    EXPECT_EQ(last, 100);
    ASSERT_TRUE(f.controller->set_position(25));
    EXPECT_DOUBLE_EQ(f.state->abs_values_set.back(), 0);
    f.state->abs_value = 29.9;
    int position = -1;
    ASSERT_TRUE(f.controller->get_position(position));
    EXPECT_EQ(position, 100) << "rounded to the nearest position";
    f.state->abs_value = 1e300;
    ASSERT_TRUE(f.controller->get_position(position));
    EXPECT_EQ(position, 100) << "a value past the range stays on the end";

    f.state->abs_value = 6.5;
    std::wstring text;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text, L"6.500 dB");
    f.state->abs_value = -123456789012.0;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text.size(), 19u);
}

TEST(abs_val_slider_controller, the_ends_of_the_slider_write_exactly_the_bounds)
{
    // Ranges whose ends the arithmetic of the scale misses by a rounding step.
    struct range_case {
        double minimum, maximum;
        std::int32_t scale;
    };
    for (const range_case& c : {range_case{20, 1e6, 0}, range_case{20, 1e6, logarithmic_scale},
                                range_case{12.5, 3e7, logarithmic_scale}, range_case{12.5, 20, logarithmic_scale},
                                range_case{-10, 30, 0}}) {
        fixture<CAbsValSliderController> f;
        f.state->abs_range = {c.minimum, c.maximum, c.minimum};
        f.state->scale_kind = c.scale;
        ASSERT_TRUE(f.controller->set_position(0));
        ASSERT_TRUE(f.controller->set_position(100));
        ASSERT_TRUE(f.controller->set_position(99));
        ASSERT_EQ(f.state->abs_values_set.size(), 3u);
        EXPECT_EQ(f.state->abs_values_set[0], c.minimum)
            << std::setprecision(17) << f.state->abs_values_set[0] << " on scale " << c.scale;
        EXPECT_EQ(f.state->abs_values_set[1], c.maximum)
            << std::setprecision(17) << f.state->abs_values_set[1] << " on scale " << c.scale;
        EXPECT_LT(f.state->abs_values_set[2], c.maximum) << c.maximum << " " << c.scale;
        EXPECT_GT(f.state->abs_values_set[2], c.minimum) << c.maximum << " " << c.scale;
    }
}

TEST(abs_val_slider_controller, texts_take_fractions_commas_and_the_unit)
{
    fixture<CAbsValSliderController> f;
    f.state->abs_range = {0, 10, 0};
    f.state->unit = L"dB";
    EXPECT_TRUE(f.controller->set_from_text(L"0,5"));
    EXPECT_TRUE(f.controller->set_from_text(L" 3/4 dB"));
    EXPECT_TRUE(f.controller->set_from_text(L"2.25 dB"));
    EXPECT_TRUE(f.controller->set_from_text(L"20")) << "typed values are not clamped or snapped";
    EXPECT_EQ(f.state->abs_values_set, (std::vector<double>{0.5, 0.75, 2.25, 20}));
    for (const wchar_t* bad : {L"1/0", L"1/", L"/2", L"1.5/2", L"01/2", L"", L"dB", L"x", L"1e999"}) {
        EXPECT_FALSE(f.controller->set_from_text(bad)) << std::wstring(bad).size();
        EXPECT_FALSE(f.controller->reads_as_value(bad)) << std::wstring(bad).size();
    }
    EXPECT_EQ(f.state->abs_values_set.size(), 4u);
}

// A text that reads as a value the item then refuses is told apart from one
// that does not read, so that the edit box shows no parse error for it.
TEST(slider_controllers, a_refused_value_still_reads_as_one)
{
    fixture<CAbsValSliderController> absolute;
    absolute.state->unit = L"dB";
    fixture<CRangeSliderController> range;
    for (ISliderController* controller : {absolute.controller.get(), range.controller.get()}) {
        ASSERT_TRUE(controller->reads_as_value(L"30"));
    }
    absolute.state->reads_fail = true; // every write refused from here on
    range.state->reads_fail = true;
    EXPECT_FALSE(absolute.controller->set_from_text(L"30 dB"));
    EXPECT_TRUE(absolute.controller->reads_as_value(L"30 dB"));
    EXPECT_TRUE(absolute.controller->reads_as_value(L"1/4"));
    EXPECT_FALSE(range.controller->set_from_text(L"300"));
    EXPECT_TRUE(range.controller->reads_as_value(L"300"));
    EXPECT_EQ(absolute.state->abs_values_set, std::vector<double>{30});
    EXPECT_EQ(range.state->values_set, std::vector<std::int32_t>{300});
}

TEST(abs_val_slider_controller, unmappable_ranges_disable_the_control)
{
    struct range_case {
        slider_abs_range range;
        std::int32_t scale;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const range_case& c : {range_case{{0, 4, 0}, logarithmic_scale}, range_case{{-1, 4, 0}, logarithmic_scale},
                                range_case{{2, 2, 2}, logarithmic_scale}, range_case{{2, 2, 2}, 0},
                                range_case{{5, 1, 0}, 0}, range_case{{0, inf, 0}, 0}}) {
        fixture<CAbsValSliderController> f;
        f.state->abs_range = c.range;
        f.state->scale_kind = c.scale;
        f.state->abs_value = 1;
        int first = -1;
        int last = -1;
        int position = -1;
        EXPECT_FALSE(f.controller->get_position_range(first, last));
        EXPECT_FALSE(f.controller->get_position(position));
        EXPECT_FALSE(f.controller->set_position(50));
        EXPECT_FALSE(available(f.controller));
        EXPECT_TRUE(f.state->abs_values_set.empty());
    }
}

TEST(abs_val_exposure_slider_controller, the_ends_of_a_logarithmic_range_snap_onto_the_table)
{
    auto f = exposure_1_10000_to_4();
    ASSERT_TRUE(f.controller->set_position(0));
    ASSERT_TRUE(f.controller->set_position(100));
    ASSERT_EQ(f.state->abs_values_set.size(), 2u);
    EXPECT_EQ(f.state->abs_values_set[0], 0.0001);
    EXPECT_EQ(f.state->abs_values_set[1], 4.0);

    // Position 50 lies at the geometric middle, 0.02 s: no table time within
    // half a percent of the span, so it stays unsnapped.
    ASSERT_TRUE(f.controller->set_position(50));
    EXPECT_NEAR(f.state->abs_values_set[2], 0.02, 1e-12);

    f.state->abs_value = 0.004;
    int position = -1;
    ASSERT_TRUE(f.controller->get_position(position));
    EXPECT_EQ(position, 35);
    f.state->abs_value = 0;
    EXPECT_FALSE(f.controller->get_position(position)) << "no logarithm of 0";
}

// Bounds that are no standard times, with one within snapping distance just
// outside: a camera at 30 fps (33 333 us, beside 1/30 s) and a shortest time
// of 102 us (beside 1/10000 s), as doubles and as the camera's single
// precision gives them.
TEST(abs_val_exposure_slider_controller, no_position_writes_a_time_outside_the_range)
{
    struct range_case {
        double minimum, maximum;
        std::int32_t scale;
    };
    for (const range_case& c :
         {range_case{102e-6, 33333e-6, logarithmic_scale},
          range_case{static_cast<float>(102e-6), static_cast<float>(33333e-6), logarithmic_scale},
          range_case{102e-6, 33333e-6, 0}, range_case{0.00011, 3.95, logarithmic_scale},
          range_case{0.0000999, 0.0334, logarithmic_scale}}) {
        SCOPED_TRACE(testing::Message() << std::setprecision(17) << c.minimum << ".." << c.maximum << " scale "
                                        << c.scale);
        auto f = exposure_1_10000_to_4();
        f.state->abs_range = {c.minimum, c.maximum, c.minimum};
        f.state->scale_kind = c.scale;
        for (int position = 0; position <= 100; ++position) {
            ASSERT_TRUE(f.controller->set_position(position));
        }
        const auto& written = f.state->abs_values_set;
        ASSERT_EQ(written.size(), 101u);
        EXPECT_EQ(written.front(), c.minimum) << std::setprecision(17) << written.front();
        EXPECT_EQ(written.back(), c.maximum) << std::setprecision(17) << written.back();
        for (std::size_t position = 0; position < written.size(); ++position) {
            EXPECT_GE(written[position], c.minimum) << "position " << position;
            EXPECT_LE(written[position], c.maximum) << "position " << position;
        }
    }
    // Snapping alone never leaves the range either.
    auto f = exposure_1_10000_to_4();
    f.state->abs_range = {102e-6, 33333e-6, 102e-6};
    auto* exposure = static_cast<CAbsValExposureSliderController*>(f.controller.get());
    EXPECT_EQ(exposure->snap_value(33332e-6), 33332e-6);
    EXPECT_EQ(exposure->snap_value(102.5e-6), 102.5e-6);
    EXPECT_EQ(exposure->snap_value(0.0165), 1.0 / 60) << "a time inside the range is still snapped onto";
}

TEST(abs_val_exposure_slider_controller, short_times_read_as_fractions)
{
    auto f = exposure_1_10000_to_4();
    std::wstring text;
    f.state->abs_value = 0.004;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text, L"1/250 sec");
    f.state->abs_value = 0.3;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text, L"0.300 sec");
    f.state->abs_value = 0.25;
    ASSERT_TRUE(f.controller->get_text(text));
    EXPECT_EQ(text, L"1/4 sec");

    text = L"kept";
    for (const double bad : {0.0, -0.5, 1e-300}) {
        f.state->abs_value = bad;
        EXPECT_FALSE(f.controller->get_text(text)) << bad;
    }
    EXPECT_EQ(text, L"kept");

    EXPECT_TRUE(f.controller->set_from_text(L"1/250 sec"));
    EXPECT_EQ(f.state->abs_values_set.back(), 0.004);
    EXPECT_TRUE(f.controller->set_from_text(L"0,5"));
    EXPECT_EQ(f.state->abs_values_set.back(), 0.5);
    EXPECT_FALSE(f.controller->set_from_text(L"1/0 sec"));
}

TEST(abs_val_exposure_slider_controller, a_range_down_to_zero_is_unavailable)
{
    auto f = exposure_1_10000_to_4();
    f.state->scale_kind = 0; // linear: positions map, but a time of 0 has no text
    f.state->abs_range = {0, 4, 1};
    EXPECT_FALSE(available(f.controller));
    auto g = exposure_1_10000_to_4();
    EXPECT_TRUE(available(g.controller));
    g.state->available = false;
    EXPECT_FALSE(available(g.controller));
}

} // namespace
} // namespace VCDPropUI
