// The nine built-in item classes over a scripted filter.

#include "filter_fixture.h"

#include <cfloat>
#include <cmath>

namespace pp_test {
namespace {

using exposure = filter_fixture;

TEST_F(exposure, auto_max_value_is_scaled_to_units_of_100_us_and_never_below_one)
{
    vendor_float(vendor::exposure_seconds, 0.01f);
    vendor_float(vendor::exposure_auto_max, 0.00005f, 0.00001f, 0.5f, 0.0123f);
    auto item = create(L"Exposure");
    ASSERT_TRUE(item);
    ASSERT_TRUE(item->is_interface_supported(4));
    std::int32_t value = 0;
    ASSERT_EQ(item->get_value(4, value), S_OK);
    EXPECT_EQ(value, 1);
    int_range range{};
    ASSERT_EQ(item->get_range(4, range), S_OK);
    EXPECT_EQ(range.minimum, 1);
    EXPECT_EQ(range.maximum, 5000);
    EXPECT_EQ(range.default_value, 123);
    EXPECT_EQ(range.step, 1);

    ASSERT_EQ(item->set_value(4, 123), S_OK);
    const auto written = last_set<vendor_float_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_auto_max);
    EXPECT_FLOAT_EQ(written.value, 0.0123f);
    EXPECT_EQ(written.flags, flag_manual);
    ASSERT_EQ(item->get_value(4, value), S_OK);
    EXPECT_EQ(value, 123);
}

TEST_F(exposure, auto_switch_and_value_availability_follow_the_vendor_flags)
{
    vendor_float(vendor::exposure_seconds, 0.01f, 0.0001f, 4.0f, 0.01f, flag_auto, 1);
    backend->set_control(control_interface::camera_control, CameraControl_Exposure,
                         {-5, flag_manual, -13, 0, 1, -5, flag_auto | flag_manual});
    auto item = create(L"Exposure");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->is_interface_supported(0));
    EXPECT_TRUE(item->is_interface_supported(2));
    EXPECT_FALSE(item->is_interface_supported(3));
    bool flag = false;
    ASSERT_EQ(item->get_switch(2, flag), S_OK);
    EXPECT_TRUE(flag);
    ASSERT_EQ(item->is_available(1, flag), S_OK);
    EXPECT_FALSE(flag);

    // Already on: nothing is written.
    ASSERT_EQ(item->set_switch(2, true), S_OK);
    EXPECT_EQ(set_count(vendor::exposure_seconds), 0u);
    ASSERT_EQ(item->set_switch(2, false), S_OK);
    const auto written = last_set<vendor_float_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_seconds);
    EXPECT_EQ(written.flags, flag_manual);
    EXPECT_FLOAT_EQ(written.value, 0.01f);
    ASSERT_EQ(item->is_available(0, flag), S_OK);
    EXPECT_TRUE(flag);

    // The range value goes through the camera control and keeps its flags.
    int_range range{};
    ASSERT_EQ(item->get_range(0, range), S_OK);
    EXPECT_EQ(range.minimum, -13);
    EXPECT_EQ(range.default_value, -5);
    ASSERT_EQ(item->set_value(0, -7), S_OK);
    EXPECT_EQ(backend->control(control_interface::camera_control, CameraControl_Exposure)->value, -7);
    EXPECT_EQ(backend->control(control_interface::camera_control, CameraControl_Exposure)->flags, flag_manual);

    atl::bstr unit;
    std::int32_t scale = 9;
    ASSERT_EQ(item->get_abs_dimension(0, unit, scale), S_OK);
    EXPECT_EQ(unit.view(), L"sec");
    EXPECT_EQ(scale, 9);
    ASSERT_EQ(item->get_abs_dimension(1, unit, scale), S_OK);
    EXPECT_EQ(scale, scale_logarithmic);
}

TEST_F(exposure, without_a_camera_control_value_is_unsupported_and_auto_uses_the_vendor_flags)
{
    make_filter({true, true, false});
    vendor_float(vendor::exposure_seconds, 0.01f, 0.0001f, 4.0f, 0.01f, flag_auto, 0);
    auto item = create(L"Exposure");
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->is_interface_supported(0));
    EXPECT_TRUE(item->is_interface_supported(2));
    bool on = false;
    ASSERT_EQ(item->get_switch(2, on), S_OK);
    EXPECT_TRUE(on);
    std::int32_t value = 0;
    EXPECT_EQ(item->get_value(0, value), E_NOTIMPL);
}

TEST_F(filter_fixture, absolute_values_past_single_precision_are_refused_and_nothing_is_sent)
{
    // What a typed 300-digit number, or infinity, becomes on the way to a
    // float record: refused, so that the page says it could not take it.
    vendor_float(vendor::exposure_seconds, 0.01f, 0.0001f, 4.0f);
    vendor_float(vendor::exposure_auto_max, 0.5f, 0.001f, 1.0f);
    vendor_float(vendor::trigger_delay, 10.0f, 0.0f, 1000.0f);
    vendor_int(vendor::trigger, 0);
    auto exposure_item = create(L"Exposure");
    auto trigger = create(L"Trigger");
    ASSERT_TRUE(exposure_item);
    ASSERT_TRUE(trigger);
    for (const double distant : {1e300, -1e300, 3.5e38, HUGE_VAL}) {
        EXPECT_EQ(exposure_item->set_abs_value(1, distant), E_INVALIDARG) << distant;
        EXPECT_EQ(exposure_item->set_abs_value(5, distant), E_INVALIDARG) << distant;
        EXPECT_EQ(trigger->set_abs_value(4, distant), E_INVALIDARG) << distant;
    }
    EXPECT_EQ(set_count(vendor::exposure_seconds), 0u);
    EXPECT_EQ(set_count(vendor::exposure_auto_max), 0u);
    EXPECT_EQ(set_count(vendor::trigger_delay), 0u);

    // The largest float itself still goes out.
    ASSERT_EQ(trigger->set_abs_value(4, FLT_MAX), S_OK);
    EXPECT_EQ(last_set<vendor_float_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger_delay).value, FLT_MAX);
}

TEST_F(filter_fixture, gain_decibels_travel_in_hundredths)
{
    vendor_int(vendor::gain_hundredths, 1234, -100, 2400, 50);
    auto item = create(L"Gain");
    ASSERT_TRUE(item);
    double value = 0;
    ASSERT_EQ(item->get_abs_value(1, value), S_OK);
    EXPECT_DOUBLE_EQ(value, 12.34);
    abs_range range{};
    ASSERT_EQ(item->get_abs_range(1, range), S_OK);
    EXPECT_DOUBLE_EQ(range.minimum, -1.0);
    EXPECT_DOUBLE_EQ(range.maximum, 24.0);
    EXPECT_DOUBLE_EQ(range.default_value, 0.5);
    ASSERT_EQ(item->set_abs_value(1, 6.5), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gain_hundredths).value, 650);
    EXPECT_EQ(item->set_abs_value(1, 1e300), E_INVALIDARG);

    // The ends and the default as the range showed them go back as the
    // hundredths they came from, though 0.29 × 100 is 28.999...; a value
    // between hundredths is still truncated.
    vendor_int(vendor::gain_hundredths, 1234, 29, 255, 57);
    ASSERT_EQ(item->get_abs_range(1, range), S_OK);
    const auto sent_for = [&](double shown) {
        EXPECT_EQ(item->set_abs_value(1, shown), S_OK) << shown;
        return last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gain_hundredths).value;
    };
    EXPECT_EQ(sent_for(range.minimum), 29);
    EXPECT_EQ(sent_for(range.maximum), 255);
    EXPECT_EQ(sent_for(range.default_value), 57);
    EXPECT_EQ(sent_for(0.2999), 29);
    EXPECT_EQ(sent_for(-0.29), -29);
    EXPECT_EQ(sent_for(-0.2999), -29);
    // No proc-amp gain scripted: neither range nor auto.
    EXPECT_FALSE(item->is_interface_supported(0));
    EXPECT_FALSE(item->is_interface_supported(2));
}

TEST_F(filter_fixture, gain_auto_makes_the_values_unavailable)
{
    vendor_int(vendor::gain_hundredths, 0);
    backend->set_control(control_interface::video_proc_amp, VideoProcAmp_Gain,
                         {10, flag_auto, 0, 48, 1, 0, flag_auto | flag_manual});
    auto item = create(L"Gain");
    ASSERT_TRUE(item);
    bool available = true;
    ASSERT_EQ(item->is_available(0, available), S_OK);
    EXPECT_FALSE(available);
    ASSERT_EQ(item->set_switch(2, false), S_OK);
    EXPECT_EQ(backend->control(control_interface::video_proc_amp, VideoProcAmp_Gain)->flags, flag_manual);
    EXPECT_EQ(backend->control(control_interface::video_proc_amp, VideoProcAmp_Gain)->value, 10);
    ASSERT_EQ(item->is_available(1, available), S_OK);
    EXPECT_TRUE(available);
}

TEST_F(filter_fixture, partial_scan_maps_binning_and_widens_offset_steps)
{
    vendor_int(vendor::binning, 4, 1, 4, 1);
    vendor_int(vendor::partial_scan_x, 8, 0, 640, 0);
    vendor_int(vendor::partial_scan_auto_center, 1);
    auto item = create(L"Partial scan");
    ASSERT_TRUE(item);
    std::int32_t value = 0;
    ASSERT_EQ(item->get_value(vendor::binning, value), S_OK);
    EXPECT_EQ(value, 3);
    ASSERT_EQ(item->set_value(vendor::binning, 3), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::binning).value, 4);
    int_range range{};
    ASSERT_EQ(item->get_range(vendor::partial_scan_x, range), S_OK);
    EXPECT_EQ(range.step, 4);
    bool available = true;
    ASSERT_EQ(item->is_available(vendor::partial_scan_x, available), S_OK);
    EXPECT_FALSE(available);
    std::vector<atl::bstr> texts;
    ASSERT_EQ(item->get_map_strings(vendor::binning, texts), S_OK);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2].view(), L"4");
    EXPECT_FALSE(item->is_interface_supported(vendor::partial_scan_y));
    EXPECT_FALSE(item->is_interface_supported(0));
}

TEST_F(filter_fixture, gpio_shows_cached_states_until_read_and_writes_only_on_write)
{
    gpio_record record{};
    record.input_state = 1;
    record.output_state = 2;
    record.input_maximum = 1;
    record.output_maximum = 3;
    backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio, record);
    auto item = create(L"GPIO");
    ASSERT_TRUE(item);
    std::int32_t value = -1;
    ASSERT_EQ(item->get_value(0, value), S_OK);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(item->push(1), S_OK);
    ASSERT_EQ(item->get_value(0, value), S_OK);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(item->set_value(2, 3), S_OK);
    EXPECT_EQ(set_count(vendor::gpio), 0u);
    ASSERT_EQ(item->push(3), S_OK);
    const auto written = last_set<gpio_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio);
    EXPECT_EQ(written.output_state, 3u);
    EXPECT_EQ(written.input_maximum, 0u);
    bool read_only = false;
    ASSERT_EQ(item->is_read_only(0, read_only), S_OK);
    EXPECT_TRUE(read_only);
}

using strobe = filter_fixture;

TEST_F(strobe, a_camera_that_only_follows_the_exposure_lists_one_mode)
{
    strobe_record record{};
    record.capabilities = 4;
    backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, record);
    auto item = create(L"Strobe");
    ASSERT_TRUE(item);
    std::vector<atl::bstr> texts;
    ASSERT_EQ(item->get_map_strings(1, texts), S_OK);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].view(), L"exposure");
    EXPECT_FALSE(item->is_interface_supported(3));
}

TEST_F(strobe, a_constant_strobe_switched_to_fixed_duration_gets_a_duration)
{
    strobe_record record{};
    record.enable = 1;
    record.duration_maximum = 1000;
    backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, record);
    auto item = create(L"Strobe");
    ASSERT_TRUE(item);
    std::int32_t mode = -1;
    ASSERT_EQ(item->get_value(1, mode), S_OK);
    EXPECT_EQ(mode, 0);
    bool available = true;
    ASSERT_EQ(item->is_available(3, available), S_OK);
    EXPECT_FALSE(available);
    ASSERT_EQ(item->is_available(4, available), S_OK);
    EXPECT_FALSE(available);
    int_range range{};
    ASSERT_EQ(item->get_range(1, range), S_OK);
    EXPECT_EQ(range.maximum, 2);
    EXPECT_EQ(range.default_value, 1);
    ASSERT_EQ(item->get_range(3, range), S_OK);
    EXPECT_EQ(range.minimum, 10);
    EXPECT_EQ(range.step, 10);

    ASSERT_EQ(item->set_value(1, 1), S_OK);
    auto written = last_set<strobe_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe);
    EXPECT_EQ(written.duration, 10u);
    EXPECT_EQ(written.follow_exposure, 0u);
    ASSERT_EQ(item->is_available(3, available), S_OK);
    EXPECT_TRUE(available);

    // Back to constant clears delay, duration and the exposure flag.
    ASSERT_EQ(item->set_value(1, 0), S_OK);
    written = last_set<strobe_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe);
    EXPECT_EQ(written.duration, 0u);
    EXPECT_EQ(written.delay, 0u);
}

TEST_F(strobe, an_unreadable_record_supports_and_offers_nothing)
{
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe,
                          test_filter::scripted_property::failing(E_FAIL));
    auto item = create(L"Strobe");
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->is_interface_supported(0));
    bool available = true;
    ASSERT_EQ(item->is_available(0, available), S_OK);
    EXPECT_FALSE(available);
    bool on = false;
    EXPECT_EQ(item->get_switch(0, on), E_FAIL);
}

TEST_F(filter_fixture, trigger_keeps_its_state_in_the_flags_of_one_record)
{
    vendor_int(vendor::trigger, 0, 0, 0, 0, 0x4, 0x1000000);
    vendor_int(vendor::trigger_software, 0);
    auto item = create(L"Trigger");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->is_interface_supported(1));
    EXPECT_FALSE(item->is_interface_supported(5));
    EXPECT_FALSE(item->is_interface_supported(4));
    bool flag = true;
    ASSERT_EQ(item->get_switch(0, flag), S_OK);
    EXPECT_FALSE(flag);
    ASSERT_EQ(item->is_available(3, flag), S_OK);
    EXPECT_FALSE(flag);
    ASSERT_EQ(item->set_switch(0, true), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger).flags, 0u);
    ASSERT_EQ(item->set_switch(1, true), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger).flags, 0x1000000u);

    const std::size_t writes = set_count(vendor::trigger);
    EXPECT_EQ(item->set_value(5, 2), E_INVALIDARG);
    EXPECT_EQ(set_count(vendor::trigger), writes);

    ASSERT_EQ(item->push(3), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger_software).flags, 8u);
}

TEST_F(filter_fixture, color_enhancement_needs_id_0_of_its_set)
{
    // The service serves ids 11 and 12 of the set only.
    backend->set_record(PROPSETID_COLOR_ENHANCE, 11, vendor_int_record{});
    backend->set_record(PROPSETID_COLOR_ENHANCE, 12, vendor_int_record{});
    EXPECT_FALSE(create(L"Color Enhancement"));

    backend->set_record(PROPSETID_COLOR_ENHANCE, 0, vendor_int_record{});
    auto item = create(L"Color Enhancement");
    ASSERT_TRUE(item);
    ASSERT_EQ(item->set_switch(0, true), S_OK);
    bool on = false;
    ASSERT_EQ(item->get_switch(0, on), S_OK);
    EXPECT_TRUE(on);
}

TEST_F(filter_fixture, white_balance_auto_makes_every_other_element_unavailable)
{
    for (DWORD id : {vendor::whitebalance_red, vendor::whitebalance_green, vendor::whitebalance_blue,
                     vendor::whitebalance_one_push}) {
        vendor_int(id, 50);
    }
    backend->set_control(control_interface::video_proc_amp, VideoProcAmp_WhiteBalance,
                         {4500, flag_auto, 2800, 6500, 1, 4500, flag_auto | flag_manual});
    auto item = create(L"WhiteBalance");
    ASSERT_TRUE(item);
    for (interface_id id : {0, 1, 3, 4}) {
        bool available = true;
        ASSERT_EQ(item->is_available(id, available), S_OK);
        EXPECT_FALSE(available) << id;
    }
    bool available = false;
    ASSERT_EQ(item->is_available(2, available), S_OK);
    EXPECT_TRUE(available);
    ASSERT_EQ(item->set_switch(2, false), S_OK);
    ASSERT_EQ(item->is_available(0, available), S_OK);
    EXPECT_TRUE(available);
}

TEST_F(filter_fixture, items_that_need_a_missing_directshow_interface_are_not_made)
{
    make_filter({true, false, false});
    vendor_int(vendor::focus_one_push, 0);
    EXPECT_FALSE(create(L"WhiteBalance"));
    EXPECT_FALSE(create(L"Focus"));
}

TEST_F(filter_fixture, focus_region_edges_follow_the_region_switch)
{
    vendor_int(vendor::focus_one_push, 1);
    vendor_int(vendor::focus_region, 0);
    vendor_int(vendor::focus_left, 10);
    auto item = create(L"Focus");
    ASSERT_TRUE(item);
    bool flag = true;
    ASSERT_EQ(item->is_available(6, flag), S_OK);
    EXPECT_FALSE(flag);
    ASSERT_EQ(item->set_switch(5, true), S_OK);
    ASSERT_EQ(item->is_available(6, flag), S_OK);
    EXPECT_TRUE(flag);
    ASSERT_EQ(item->is_read_only(2, flag), S_OK);
    EXPECT_TRUE(flag);
    ASSERT_EQ(item->get_switch(2, flag), S_OK);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(item->is_interface_supported(1));
    ASSERT_EQ(item->push(0), S_OK);
    EXPECT_EQ(last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::focus_one_push).value, 1);
}

} // namespace
} // namespace pp_test
