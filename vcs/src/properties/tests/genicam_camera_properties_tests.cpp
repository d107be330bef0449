#include "camera_feature_fixture.h"

#include <bit>
#include <cmath>
#include <limits>

namespace {

using camera_test::at;
using camera_test::camera;
using camera_test::description;
using camera_test::full_description;
using camera_test::hr;
namespace id = drv_genicam::vendor_id;

constexpr std::uint32_t e_notimpl = 0x80004001;
constexpr std::uint32_t e_invalidarg = 0x80070057;
constexpr std::uint32_t insufficient = 0x8007007A;

// The 48-byte record: value, flags, capabilities, minimum, maximum, default.
struct record48 {
    std::int32_t value, flags, capabilities, min, max, def;
};
record48 read48(const std::vector<unsigned char>& b)
{
    return {at<std::int32_t>(b, 24), at<std::int32_t>(b, 28), at<std::int32_t>(b, 32),
            at<std::int32_t>(b, 36), at<std::int32_t>(b, 40), at<std::int32_t>(b, 44)};
}
void expect48(const std::vector<unsigned char>& b, record48 want, const char* what)
{
    const record48 got = read48(b);
    EXPECT_EQ(got.value, want.value) << what;
    EXPECT_EQ(got.flags, want.flags) << what;
    EXPECT_EQ(got.capabilities, want.capabilities) << what;
    EXPECT_EQ(got.min, want.min) << what;
    EXPECT_EQ(got.max, want.max) << what;
    EXPECT_EQ(got.def, want.def) << what;
}
// The 20-byte range record: minimum, maximum, default, step, capabilities.
std::vector<std::int32_t> range20(const std::vector<unsigned char>& b)
{
    return {at<std::int32_t>(b, 0), at<std::int32_t>(b, 4), at<std::int32_t>(b, 8), at<std::int32_t>(b, 12),
            at<std::int32_t>(b, 16)};
}

TEST(genicam_camera_properties, vendor_records_read_every_feature)
{
    camera c(full_description());
    c.put("Gain", 12.5);
    c.put<std::int64_t>("ExposureAutoReference", 99);
    c.put<std::int32_t>("ExposureAutoUpperLimitAuto", 1);
    c.put<std::int32_t>("BalanceWhiteAuto", 2); // Once
    c.put<std::int64_t>("VCDProperty_WhiteBalanceRed", 10);
    c.put<std::int64_t>("VCDProperty_WhiteBalanceGreen", 20);
    c.put<std::int64_t>("VCDProperty_WhiteBalanceBlue", 30);
    c.put<std::int32_t>("ReverseY", 1);
    struct row {
        std::uint32_t id;
        record48 want;
    };
    const row rows[] = {
        {id::gain_hundredths, {1250, 2, 2, 0, 4800, 0}},
        {id::exposure_auto_reference, {99, 2, 2, 0, 255, 128}},
        {id::exposure_auto_upper_limit_auto, {1, 2, 2, 0, 1, 0}},
        {id::whitebalance_one_push, {1, 2, 2, 0, 1, 0}},
        {id::whitebalance_red, {10, 2, 2, 0, 255, 64}},
        {id::whitebalance_green, {20, 2, 2, 0, 255, 64}},
        {id::whitebalance_blue, {30, 2, 2, 0, 255, 64}},
        {id::reverse_x, {0, 2, 2, 0, 1, 0}},
        {id::reverse_y, {1, 2, 2, 0, 1, 0}},
        {id::trigger, {0, 0x1000004, 0x1000000, 0, 0, 0}},
        {id::trigger_software, {0, 0, 10, 0, 1, 0}},
    };
    for (const row& r : rows) {
        std::vector<unsigned char> b;
        ASSERT_FALSE(c.get(camera::vendor(r.id), b, 48)) << r.id;
        EXPECT_EQ(c.returned, 48u) << r.id;
        expect48(b, r.want, std::to_string(r.id).c_str());
    }
}

TEST(genicam_camera_properties, vendor_sets_write_the_nodes)
{
    camera c(full_description());
    ASSERT_FALSE(c.set_value(camera::vendor(id::gain_hundredths), 1250));
    EXPECT_EQ(c.f64("Gain"), 12.5);
    ASSERT_FALSE(c.set_value(camera::vendor(id::exposure_auto_reference), 77));
    EXPECT_EQ(c.i64("ExposureAutoReference"), 77);
    ASSERT_FALSE(c.set_value(camera::vendor(id::exposure_auto_upper_limit_auto), 5));
    EXPECT_EQ(c.u32("ExposureAutoUpperLimitAuto"), 1u);
    ASSERT_FALSE(c.set_value(camera::vendor(id::whitebalance_green), 33));
    EXPECT_EQ(c.i64("VCDProperty_WhiteBalanceGreen"), 33);
    ASSERT_FALSE(c.set_value(camera::vendor(id::whitebalance_one_push), 0));
    EXPECT_EQ(c.u32("BalanceWhiteAuto"), 2u);
    ASSERT_FALSE(c.set_value(camera::vendor(id::reverse_x), 1));
    EXPECT_EQ(c.u32("ReverseX"), 1u);
    ASSERT_FALSE(c.set_float(camera::vendor(id::exposure_seconds), 0.25F));
    EXPECT_EQ(c.f64("ExposureTime"), 250000.0);
    ASSERT_FALSE(c.set_float(camera::vendor(id::exposure_auto_upper_limit), 2.0F));
    EXPECT_EQ(c.f64("ExposureAutoUpperLimit"), 2000000.0);
    ASSERT_FALSE(c.set_float(camera::vendor(id::trigger_delay), 1.5F));
    EXPECT_EQ(c.f64("TriggerDelay"), 1.5);
    const int writes = c.device.writes;
    ASSERT_FALSE(c.set_value(camera::vendor(id::trigger_software), 0));
    EXPECT_GT(c.device.writes, writes);
    EXPECT_EQ(c.u32("TriggerSoftware"), 1u);
}

TEST(genicam_camera_properties, float_records_carry_seconds_and_the_node_range)
{
    camera c(full_description());
    c.put("ExposureTime", 10000.0);
    c.put("TriggerDelay", 42.0);
    struct row {
        std::uint32_t id;
        float value, min, max, def;
        const char* feature;
        double node_min, node_max;
    };
    const row rows[] = {
        {id::exposure_seconds, 0.01F, 0.00002F, 30.0F, 0.01F, "ExposureTime", 20.0, 30000000.0},
        {id::exposure_auto_upper_limit, 0.0F, 0.00002F, 30.0F, 0.00002F, "ExposureAutoUpperLimit", 20.0, 30000000.0},
        {id::trigger_delay, 42.0F, 0.0F, 1000000.0F, 0.0F, "TriggerDelay", 0.0, 1000000.0},
    };
    const float inf = std::numeric_limits<float>::infinity();
    for (const row& r : rows) {
        std::vector<unsigned char> b;
        ASSERT_FALSE(c.get(camera::vendor(r.id), b, 56)) << r.id;
        EXPECT_EQ(c.returned, 56u);
        EXPECT_FLOAT_EQ(at<float>(b, 24), r.value) << r.id;
        EXPECT_FLOAT_EQ(at<float>(b, 28), r.min) << r.id;
        EXPECT_FLOAT_EQ(at<float>(b, 32), r.max) << r.id;
        EXPECT_FLOAT_EQ(at<float>(b, 36), r.def) << r.id;
        EXPECT_EQ(at<std::uint32_t>(b, 40), 2u);
        EXPECT_EQ(at<std::uint32_t>(b, 44), 2u);
        EXPECT_EQ(at<std::uint32_t>(b, 48), 1u);
    }
    std::vector<unsigned char> b;
    EXPECT_EQ(hr(c.get(camera::vendor(id::exposure_seconds), b, 55)), insufficient);
    EXPECT_EQ(c.returned, 56u);
    std::vector<unsigned char> short_record(55, 0);
    EXPECT_EQ(hr(c.set(camera::vendor(id::exposure_seconds), short_record)), insufficient);
    EXPECT_EQ(hr(c.set_float(camera::vendor(id::exposure_seconds), std::numeric_limits<float>::quiet_NaN())),
              e_invalidarg);
    EXPECT_EQ(c.f64("ExposureTime"), 10000.0);

    // The bounds as the record gave them write the node's exact bounds (the
    // f32 of 20 µs in seconds is not 20 µs); the nearest f32 past either is
    // refused and writes nothing.
    for (const row& r : rows) {
        ASSERT_FALSE(c.get(camera::vendor(r.id), b, 56)) << r.id;
        const float reported_min = at<float>(b, 28);
        const float reported_max = at<float>(b, 32);
        ASSERT_FALSE(c.set_float(camera::vendor(r.id), reported_max)) << r.id;
        EXPECT_EQ(c.f64(r.feature), r.node_max) << r.id;
        ASSERT_FALSE(c.set_float(camera::vendor(r.id), reported_min)) << r.id;
        EXPECT_EQ(c.f64(r.feature), r.node_min) << r.id;
        const int writes = c.device.writes;
        EXPECT_EQ(hr(c.set_float(camera::vendor(r.id), std::nextafter(reported_max, inf))), e_invalidarg) << r.id;
        EXPECT_EQ(hr(c.set_float(camera::vendor(r.id), std::nextafter(reported_min, -inf))), e_invalidarg) << r.id;
        EXPECT_EQ(c.device.writes, writes) << r.id;
        EXPECT_EQ(c.f64(r.feature), r.node_min) << r.id;
    }

    // A minimum too small for a normal f32 is not taken for its image: without
    // Min the minimum is the smallest positive double and reads as 0, and a 0
    // sent writes 0; a denormal image is written as sent. A minimum whose f32
    // differs from it only by rounding still writes the exact minimum.
    const auto single = [](double v) { return static_cast<float>(v); };
    struct small_row {
        const char* min;
        float reported;
        double written;
    };
    const small_row small_rows[] = {
        {"", 0.0F, 0.0},
        {"1e-40", single(1e-40), static_cast<double>(single(1e-40))},
        {"1.5e-38", single(1.5e-38), 1.5e-38},
    };
    for (const small_row& r : small_rows) {
        description small;
        small.enum_feature("TriggerMode", {"Off", "On"}).float_feature("TriggerDelay", r.min, "1000");
        camera tiny(small);
        tiny.put("TriggerDelay", 7.0);
        ASSERT_FALSE(tiny.get(camera::vendor(id::trigger_delay), b, 56)) << r.min;
        EXPECT_EQ(at<float>(b, 28), r.reported) << r.min;
        ASSERT_FALSE(tiny.set_float(camera::vendor(id::trigger_delay), at<float>(b, 28))) << r.min;
        EXPECT_EQ(tiny.read<std::uint64_t>("TriggerDelay"), std::bit_cast<std::uint64_t>(r.written)) << r.min;
    }
}

TEST(genicam_camera_properties, exposure_steps_on_camera_control)
{
    camera c(full_description());
    struct row {
        double us;
        std::int32_t step;
    };
    for (const row r : {row{10000, -6}, row{600000, 0}, row{4000000, 2}}) {
        c.put("ExposureTime", r.us);
        std::vector<unsigned char> b;
        ASSERT_FALSE(c.get(camera::control(drv_genicam::camera_control_exposure), b, 40));
        EXPECT_EQ(at<std::int32_t>(b, 24), r.step) << r.us;
        EXPECT_EQ(at<std::uint32_t>(b, 28), 2u) << "manual, auto off";
        EXPECT_EQ(at<std::uint32_t>(b, 32), 3u) << "manual and auto capabilities";
    }
    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(camera::control(drv_genicam::camera_control_exposure), b, 20, KsPropDataRequest::query_range));
    // 20 µs → -15 would need k = 15: 1 000 000 / 2^16 = 15 < 20; default 10 000 → -6.
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{-15, 4, -6, 1, 3}));

    struct set_row {
        std::int32_t step;
        double us;
    };
    for (const set_row r : {set_row{-6, 15625}, set_row{2, 4000000}, set_row{-15, 30}}) {
        ASSERT_FALSE(c.set_value(camera::control(drv_genicam::camera_control_exposure), r.step, 2)) << r.step;
        EXPECT_EQ(c.f64("ExposureTime"), r.us) << r.step;
    }
    // Outside the node's range (20 µs .. 30 s): the node refuses, nothing written.
    c.put("ExposureTime", 1000.0);
    for (const std::int32_t step : {31, -31, 100, -100, std::numeric_limits<std::int32_t>::min(), -20, 5}) {
        const std::error_code refused = c.set_value(camera::control(drv_genicam::camera_control_exposure), step, 2);
        EXPECT_EQ(refused, GenICam::make_error_code(GenICam::errc::value_out_of_range)) << step;
        EXPECT_EQ(hr(refused), e_invalidarg) << step;
        EXPECT_EQ(c.f64("ExposureTime"), 1000.0) << step;
    }
}

// A slider dragged to either end sends the reported step back. The step of a
// bound whose time is no power-of-two fraction of a second turns back into a
// time past that bound: it writes the bound itself. One step further is
// refused.
TEST(genicam_camera_properties, every_reported_exposure_step_is_taken_and_written_inside_the_node_range)
{
    struct row {
        const char* min;
        const char* max;
        std::int32_t min_step, max_step;
        double at_min, at_max;
    };
    const row rows[] = {
        {"20", "33333", -15, -4, 30, 33333},   // 30 fps: -4 would be 62 500 µs
        {"20", "100000", -15, -3, 30, 100000}, // -3 would be 125 000 µs
        {"20", "700000", -15, 0, 30, 700000},  // 0 would be 1 s
        {"15.5", "33333", -16, -4, 15.5, 33333},
        {"1500000", "30000000", 0, 4, 1500000, 16000000},
    };
    const auto exposure = camera::control(drv_genicam::camera_control_exposure);
    for (const row& r : rows) {
        SCOPED_TRACE(std::string("ExposureTime over [") + r.min + ", " + r.max + "]");
        description d;
        d.float_feature("ExposureTime", r.min, r.max).enum_feature("ExposureAuto", {"Off", "Continuous"});
        camera c(d);
        std::vector<unsigned char> b;
        ASSERT_FALSE(c.get(exposure, b, 20, KsPropDataRequest::query_range));
        EXPECT_EQ(range20(b), (std::vector<std::int32_t>{r.min_step, r.max_step, r.min_step, 1, 3}))
            << "the default is the minimum";
        const double node_min = std::stod(r.min);
        const double node_max = std::stod(r.max);
        for (std::int32_t step = r.min_step; step <= r.max_step; ++step) {
            EXPECT_FALSE(c.set_value(exposure, step, 2)) << step;
            EXPECT_GE(c.f64("ExposureTime"), node_min) << step;
            EXPECT_LE(c.f64("ExposureTime"), node_max) << step;
            ASSERT_FALSE(c.get(exposure, b, 40));
            EXPECT_EQ(at<std::int32_t>(b, 24), step) << "the value reads back as the step set";
        }
        EXPECT_FALSE(c.set_value(exposure, r.min_step, 2));
        EXPECT_EQ(c.f64("ExposureTime"), r.at_min);
        EXPECT_FALSE(c.set_value(exposure, r.max_step, 2));
        EXPECT_EQ(c.f64("ExposureTime"), r.at_max);
        for (const std::int32_t past : {r.min_step - 1, r.max_step + 1}) {
            EXPECT_EQ(hr(c.set_value(exposure, past, 2)), e_invalidarg) << past;
            EXPECT_EQ(c.f64("ExposureTime"), r.at_max) << past;
        }
    }
}

TEST(genicam_camera_properties, auto_switch_changes_only_the_auto_node)
{
    camera c(full_description());
    const auto exposure = camera::control(drv_genicam::camera_control_exposure);
    c.put("ExposureTime", 1000.0);
    ASSERT_FALSE(c.set_value(exposure, -6, 1));
    EXPECT_EQ(c.u32("ExposureAuto"), 1u) << "Continuous";
    EXPECT_EQ(c.f64("ExposureTime"), 1000.0);

    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(exposure, b, 40));
    EXPECT_EQ(at<std::uint32_t>(b, 28), 3u) << "auto flag on";

    ASSERT_FALSE(c.set_value(exposure, -6, 1)) << "auto requested and on: nothing written";
    EXPECT_EQ(c.f64("ExposureTime"), 1000.0);
    ASSERT_FALSE(c.set_value(exposure, -6, 2)) << "switch off, value not written";
    EXPECT_EQ(c.u32("ExposureAuto"), 0u);
    EXPECT_EQ(c.f64("ExposureTime"), 1000.0);
    ASSERT_FALSE(c.set_value(exposure, -6, 2));
    EXPECT_EQ(c.f64("ExposureTime"), 15625.0);

    const auto gain = camera::amp(drv_genicam::video_proc_amp_gain);
    c.put<std::int64_t>("GainRawHidden", 120);
    c.put<std::int32_t>("GainAuto", 1);
    ASSERT_FALSE(c.get(gain, b, 20, KsPropDataRequest::query_range));
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{0, 480, 0, 2, 3}));
    ASSERT_FALSE(c.get(gain, b, 40));
    EXPECT_EQ(at<std::int32_t>(b, 24), 120);
    EXPECT_EQ(at<std::uint32_t>(b, 28), 3u);
    ASSERT_FALSE(c.set_value(gain, 200, 2));
    EXPECT_EQ(c.u32("GainAuto"), 0u);
    EXPECT_EQ(c.i64("GainRawHidden"), 120);
    ASSERT_FALSE(c.set_value(gain, 200, 2));
    EXPECT_EQ(c.i64("GainRawHidden"), 200);
}

TEST(genicam_camera_properties, trigger_mode_and_edge_follow_the_flags)
{
    camera c(full_description());
    const auto key = camera::vendor(id::trigger);
    struct row {
        std::uint32_t flags;
        std::uint32_t mode;       // 0 Off, 1 On
        std::uint32_t activation; // 0 RisingEdge, 1 FallingEdge
        std::int32_t read_flags;
    };
    const row rows[] = {
        {0x4, 0, 1, 0x4},
        {0x1000000, 1, 0, 0x1000000},
        {0x1000004, 0, 0, 0x1000004},
        {0xFEFFFFFB, 1, 1, 0}, // every stray bit, neither defined one
    };
    for (const row& r : rows) {
        ASSERT_FALSE(c.set_value(key, 0, r.flags)) << r.flags;
        EXPECT_EQ(c.u32("TriggerMode"), r.mode) << r.flags;
        EXPECT_EQ(c.u32("TriggerActivation"), r.activation) << r.flags;
        std::vector<unsigned char> b;
        ASSERT_FALSE(c.get(key, b, 48));
        EXPECT_EQ(read48(b).flags, r.read_flags) << r.flags;
    }
}

TEST(genicam_camera_properties, white_balance_auto_and_adapters)
{
    camera c(full_description());
    const auto wb = camera::amp(drv_genicam::video_proc_amp_white_balance);
    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(wb, b, 20, KsPropDataRequest::query_range));
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{0, 1, 1, 1, 1}));
    ASSERT_FALSE(c.set_value(wb, 0, 1));
    EXPECT_EQ(c.u32("BalanceWhiteAuto"), 1u);
    ASSERT_FALSE(c.get(wb, b, 40));
    EXPECT_EQ(at<std::uint32_t>(b, 28), 1u);
    ASSERT_FALSE(c.set_value(wb, 1, 0));
    EXPECT_EQ(c.u32("BalanceWhiteAuto"), 0u);

    // Hue: scale 1, fixed default 0 whatever the node's (7); Saturation × 100.
    c.put("Hue", -12.5);
    ASSERT_FALSE(c.get(camera::amp(drv_genicam::video_proc_amp_hue), b, 20, KsPropDataRequest::query_range));
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{-180, 180, 0, 1, 2}));
    ASSERT_FALSE(c.get(camera::amp(drv_genicam::video_proc_amp_hue), b, 40));
    EXPECT_EQ(at<std::int32_t>(b, 24), -13) << "halves away from zero";
    ASSERT_FALSE(c.get(camera::amp(drv_genicam::video_proc_amp_saturation), b, 20, KsPropDataRequest::query_range));
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{0, 200, 100, 1, 2}));
    ASSERT_FALSE(c.set_value(camera::amp(drv_genicam::video_proc_amp_saturation), 150));
    EXPECT_EQ(c.f64("Saturation"), 1.5);
    ASSERT_FALSE(c.get(camera::amp(drv_genicam::video_proc_amp_brightness), b, 20, KsPropDataRequest::query_range));
    EXPECT_EQ(range20(b), (std::vector<std::int32_t>{-64, 64, 3, 1, 2}));
    ASSERT_FALSE(c.set_value(camera::amp(drv_genicam::video_proc_amp_brightness), -9));
    EXPECT_EQ(c.i64("Brightness"), -9);
}

// A DirectShow application sets back what GetRange reported. Each reported
// minimum, maximum and default of a float feature behind an integer record is
// accepted, the bounds writing the node's exact bounds, and one step past
// either bound is refused, wherever scale × bound is no whole number.
TEST(genicam_camera_properties, every_reported_bound_and_default_of_an_integer_record_is_taken_back)
{
    enum class record { hue, saturation, gamma, gain };
    struct row {
        record kind;
        const char* min;
        const char* max;
        std::int32_t reported_min, reported_max, reported_default;
        double node_min, node_max, node_default;
    };
    const row rows[] = {
        {record::hue, "-179.5", "179.5", -180, 180, 0, -179.5, 179.5, 0.0},
        // The fixed default 0 lies below the range: it is reported as the minimum.
        {record::hue, "10", "350", 10, 350, 10, 10.0, 350.0, 10.0},
        {record::saturation, "0", "398", 0, 255, 0, 0.0, 398.0, 0.0},
        {record::gamma, "0.454", "2.996", 45, 300, 45, 0.454, 2.996, 0.454},
        // 2.3 × 100 truncates to 229; the default is the minimum.
        {record::gain, "2.3", "47.99", 229, 4799, 229, 2.3, 47.99, 2.3},
    };
    const float inside = 0.5F;
    for (const row& r : rows) {
        const char* const feature = r.kind == record::hue          ? "Hue"
                                    : r.kind == record::saturation ? "Saturation"
                                    : r.kind == record::gamma      ? "Gamma"
                                                                   : "Gain";
        SCOPED_TRACE(std::string(feature) + " over [" + r.min + ", " + r.max + "]");
        description d;
        d.float_feature(feature, r.min, r.max);
        camera c(d);
        // The camera's own scale for saturation.
        c.saturation.bind(c.saturation.node, 0.64F, 0, false);
        const cam::property_req_key key = r.kind == record::hue ? camera::amp(drv_genicam::video_proc_amp_hue)
                                          : r.kind == record::saturation
                                              ? camera::amp(drv_genicam::video_proc_amp_saturation)
                                          : r.kind == record::gamma ? camera::amp(drv_genicam::video_proc_amp_gamma)
                                                                    : camera::vendor(id::gain_hundredths);
        c.put(feature, static_cast<double>(inside) + std::stod(r.min));
        std::vector<unsigned char> b;
        std::int32_t min = 0, max = 0, def = 0;
        if (r.kind == record::gain) {
            ASSERT_FALSE(c.get(key, b, 48));
            const record48 got = read48(b);
            min = got.min;
            max = got.max;
            def = got.def;
        } else {
            ASSERT_FALSE(c.get(key, b, 20, KsPropDataRequest::query_range));
            const std::vector<std::int32_t> got = range20(b);
            min = got[0];
            max = got[1];
            def = got[2];
        }
        EXPECT_EQ(min, r.reported_min);
        EXPECT_EQ(max, r.reported_max);
        EXPECT_EQ(def, r.reported_default);

        EXPECT_FALSE(c.set_value(key, max)) << "the reported maximum";
        EXPECT_EQ(c.f64(feature), r.node_max);
        EXPECT_FALSE(c.set_value(key, def)) << "the reported default";
        EXPECT_EQ(c.f64(feature), r.node_default);
        EXPECT_FALSE(c.set_value(key, min)) << "the reported minimum";
        EXPECT_EQ(c.f64(feature), r.node_min);
        const int writes = c.device.writes;
        EXPECT_EQ(hr(c.set_value(key, min - 1)), e_invalidarg) << "one step below the minimum";
        EXPECT_EQ(hr(c.set_value(key, max + 1)), e_invalidarg) << "one step above the maximum";
        EXPECT_EQ(c.device.writes, writes);
        EXPECT_EQ(c.f64(feature), r.node_min);
    }
}

TEST(genicam_camera_properties, strobe_record_round_trip)
{
    camera c(full_description());
    c.put<std::int32_t>("StrobeEnable", 1);
    c.put<std::int32_t>("StrobePolarity", 1);
    c.put<std::int32_t>("StrobeOperation", 1);
    c.put<std::int64_t>("StrobeDelay", 5);
    c.put<std::int64_t>("StrobeDuration", 700);
    const auto key = camera::vendor(id::strobe);
    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(key, b, 88));
    EXPECT_EQ(c.returned, 88u);
    const std::vector<std::uint32_t> want{1, 5, 0, 10000, 0, 700, 0, 100000, 100, 1, 1, 1, 1, 0};
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(at<std::uint32_t>(b, 24 + 4 * i), want[i]) << "offset " << 24 + 4 * i;
    }
    EXPECT_EQ(at<std::uint32_t>(b, 0), 0u) << "the whole record is cleared";

    std::vector<unsigned char> set(88, 0);
    const std::uint32_t fields[][2] = {{24, 0}, {28, 9}, {44, 333}, {60, 0}, {68, 0}};
    for (const auto& f : fields) {
        std::memcpy(set.data() + f[0], &f[1], 4);
    }
    ASSERT_FALSE(c.set(key, set));
    EXPECT_EQ(c.u32("StrobeEnable"), 0u);
    EXPECT_EQ(c.u32("StrobePolarity"), 0u);
    EXPECT_EQ(c.u32("StrobeOperation"), 0u);
    EXPECT_EQ(c.i64("StrobeDelay"), 9);
    EXPECT_EQ(c.i64("StrobeDuration"), 333);

    EXPECT_EQ(hr(c.get(key, b, 87)), insufficient);
    EXPECT_EQ(c.returned, 88u);
    std::vector<unsigned char> short_set(87, 0);
    EXPECT_EQ(hr(c.set(key, short_set)), insufficient);
}

TEST(genicam_camera_properties, gpio_record)
{
    camera c(full_description());
    c.put<std::int64_t>("GPIn", 1);
    const auto key = camera::vendor(id::gpio);
    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(key, b, 40));
    EXPECT_EQ(c.returned, 40u);
    EXPECT_EQ(at<std::uint32_t>(b, 0), 0xEEEEEEEEu) << "bytes 0-23 untouched";
    EXPECT_EQ((std::vector<std::int32_t>{at<std::int32_t>(b, 24), at<std::int32_t>(b, 28), at<std::int32_t>(b, 32),
                                         at<std::int32_t>(b, 36)}),
              (std::vector<std::int32_t>{1, 0, 1, 1}));
    EXPECT_EQ(hr(c.get(key, b, 39)), insufficient);
    EXPECT_EQ(c.returned, 40u);

    std::vector<unsigned char> set(40, 0);
    const std::int32_t out = 1;
    std::memcpy(set.data() + 28, &out, 4);
    ASSERT_FALSE(c.set(key, set));
    EXPECT_EQ(c.i64("GPOut"), 1);
    set.resize(39);
    EXPECT_EQ(hr(c.set(key, set)), insufficient);
}

// Descriptions that leave features out or give them another kind.
TEST(genicam_camera_properties, absent_features_unregister_keys_or_answer_not_implemented)
{
    description d;
    d.int_feature("Gain", "0", "48")                        // an Integer: gain absent
        .float_feature("ExposureTime", "20", "30000000")     // no ExposureAuto
        .enum_feature("BalanceWhiteAuto", {"Off", "Continuous"}) // no "Once"
        .enum_feature("TriggerMode", {"Off", "On"})
        .enum_feature("StrobeEnable", {"Off", "On"})
        .int_feature("StrobeDuration", "0", "100");
    camera c(d);
    struct row {
        cam::property_req_key key;
        bool registered;
    };
    const row rows[] = {
        {camera::vendor(id::gain_hundredths), false},
        {camera::amp(drv_genicam::video_proc_amp_gain), false},
        {camera::control(drv_genicam::camera_control_exposure), true},
        {camera::vendor(id::exposure_seconds), true},
        {camera::vendor(id::exposure_auto_reference), false},
        {camera::vendor(id::exposure_auto_upper_limit), false},
        {camera::vendor(id::whitebalance_one_push), false},
        {camera::amp(drv_genicam::video_proc_amp_white_balance), true},
        {camera::vendor(id::trigger_software), false},
        {camera::vendor(id::trigger_delay), false},
        {camera::vendor(id::whitebalance_red), false},
        {camera::vendor(id::gpio), false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(c.registry.is_supported(r.key), r.registered) << r.key.property_id;
        std::vector<unsigned char> b;
        if (!r.registered) {
            EXPECT_EQ(hr(c.get(r.key, b, 56)), e_notimpl) << r.key.property_id;
        }
    }
    // The trigger without TriggerActivation: no edge capability, set leaves it.
    std::vector<unsigned char> b;
    ASSERT_FALSE(c.get(camera::vendor(id::trigger), b, 48));
    EXPECT_EQ(read48(b).capabilities, 0);
    ASSERT_FALSE(c.set_value(camera::vendor(id::trigger), 0, 0x1000000));
    // A strobe without StrobeOperation, polarity or delay.
    ASSERT_FALSE(c.get(camera::vendor(id::strobe), b, 88));
    EXPECT_EQ(at<std::uint32_t>(b, 68), 1u);
    EXPECT_EQ(at<std::uint32_t>(b, 72), 1u);
    EXPECT_EQ(at<std::uint32_t>(b, 76), 7u);
    // Exposure without ExposureAuto: capabilities manual only.
    ASSERT_FALSE(c.get(camera::control(drv_genicam::camera_control_exposure), b, 40));
    EXPECT_EQ(at<std::uint32_t>(b, 32), 2u);
    // Handlers answer only their own keys; the vendor ids of the absent
    // optional exposure features too.
    KsPropDataRequest other;
    other.property_set = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
    other.property_id = id::gain_hundredths;
    other.value = b.data();
    other.value_size = 56;
    EXPECT_EQ(hr(c.exposure.get_request(other)), e_notimpl);
    other.property_id = id::exposure_auto_upper_limit_auto;
    EXPECT_EQ(hr(c.exposure.get_request(other)), e_notimpl);
    EXPECT_EQ(hr(c.exposure.set_request(other)), e_notimpl);
}

// What QuerySupported reports must hold for Get: an optional member the
// camera lacks is no key of its own, one it has is.
TEST(genicam_camera_properties, optional_members_without_their_nodes_are_not_offered)
{
    description d;
    d.float_feature("ExposureTime", "20", "30000000")
        .enum_feature("ExposureAuto", {"Off", "Continuous"})
        .float_feature("Gain", "0", "48"); // neither GainRawHidden nor GainAuto
    camera c(d);
    for (const std::uint32_t key : {id::exposure_auto_reference, id::exposure_auto_upper_limit_auto,
                                    id::exposure_auto_upper_limit}) {
        EXPECT_FALSE(c.registry.is_supported(camera::vendor(key))) << key;
        std::vector<unsigned char> b;
        EXPECT_EQ(hr(c.get(camera::vendor(key), b, 56)), e_notimpl) << key;
        EXPECT_EQ(hr(c.set_value(camera::vendor(key), 1)), e_notimpl) << key;
    }
    EXPECT_FALSE(c.registry.is_supported(camera::amp(drv_genicam::video_proc_amp_gain)));
    EXPECT_TRUE(c.registry.is_supported(camera::vendor(id::gain_hundredths)));
    EXPECT_TRUE(c.registry.is_supported(camera::vendor(id::exposure_seconds)));

    // With one of them present, that one alone is offered and answers.
    description with_reference;
    with_reference.float_feature("ExposureTime", "20", "30000000")
        .enum_feature("ExposureAuto", {"Off", "Continuous"})
        .int_feature("ExposureAutoReference", "0", "255", "128")
        .float_feature("Gain", "0", "48")
        .enum_feature("GainAuto", {"Off", "Continuous"});
    camera r(with_reference);
    EXPECT_TRUE(r.registry.is_supported(camera::vendor(id::exposure_auto_reference)));
    std::vector<unsigned char> b;
    EXPECT_FALSE(r.get(camera::vendor(id::exposure_auto_reference), b, 48));
    EXPECT_FALSE(r.registry.is_supported(camera::vendor(id::exposure_auto_upper_limit)));
    EXPECT_FALSE(r.registry.is_supported(camera::vendor(id::exposure_auto_upper_limit_auto)));
    EXPECT_TRUE(r.registry.is_supported(camera::amp(drv_genicam::video_proc_amp_gain)));
}

TEST(genicam_camera_properties, bad_device_values_saturate_or_fail_cleanly)
{
    description d;
    d.float_feature("Gain", "0", "1e30")
        .enum_feature("ExposureAuto", {"Continuous", "Once"}) // no "Off"
        .float_feature("ExposureTime", "20", "30000000")
        .int_feature("VCDProperty_WhiteBalanceRed", "-9223372036854775808", "9223372036854775807");
    camera c(d);
    std::vector<unsigned char> b;
    c.put("Gain", 1e30);
    ASSERT_FALSE(c.get(camera::vendor(id::gain_hundredths), b, 48));
    EXPECT_EQ(read48(b).value, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(read48(b).max, std::numeric_limits<std::int32_t>::max());
    c.put("Gain", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(hr(c.get(camera::vendor(id::gain_hundredths), b, 48)), e_invalidarg);

    c.put<std::int64_t>("VCDProperty_WhiteBalanceRed", -5);
    ASSERT_FALSE(c.get(camera::vendor(id::whitebalance_red), b, 48));
    EXPECT_EQ(read48(b).value, -5) << "values inside the i32 range unchanged";
    EXPECT_EQ(read48(b).min, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(read48(b).max, std::numeric_limits<std::int32_t>::max());

    // ExposureAuto selected "Continuous" is fine; "Once" fits neither name.
    c.put("ExposureTime", 1000.0);
    c.put<std::int32_t>("ExposureAuto", 1);
    EXPECT_EQ(hr(c.get(camera::control(drv_genicam::camera_control_exposure), b, 40)), e_invalidarg);
    // A set goes on with the manual write when the auto state cannot be read.
    ASSERT_FALSE(c.set_value(camera::control(drv_genicam::camera_control_exposure), 0, 1));
    EXPECT_EQ(c.f64("ExposureTime"), 1000000.0);
    c.put<std::int32_t>("ExposureAuto", 0);
    EXPECT_EQ(hr(c.set_value(camera::control(drv_genicam::camera_control_exposure), 0, 2)), e_invalidarg)
        << "switching off needs an entry \"Off\"";

    // A NaN exposure time has no step; its seconds still travel as a float.
    c.put<std::int32_t>("ExposureAuto", 0);
    c.put("ExposureTime", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(hr(c.get(camera::control(drv_genicam::camera_control_exposure), b, 40)), e_invalidarg);
    ASSERT_FALSE(c.get(camera::vendor(id::exposure_seconds), b, 56));
    EXPECT_TRUE(std::isnan(at<float>(b, 24)));

    // The device lost mid-request: the node map's error unchanged.
    c.device.fail_reads = true;
    const std::error_code lost = c.get(camera::control(drv_genicam::camera_control_exposure), b, 40);
    EXPECT_EQ(lost, GenICam::make_error_code(GenICam::errc::device_lost));
    EXPECT_EQ(hr(lost), 0x80070651u);
}

TEST(genicam_camera_properties, the_first_document_holding_a_name_decides)
{
    // The first document has Gain as an Integer: the Float of the second is
    // not taken.
    description first;
    first.int_feature("Gain", "0", "100");
    camera c(full_description(), first.xml());
    EXPECT_FALSE(c.registry.is_supported(camera::vendor(id::gain_hundredths)));
    EXPECT_TRUE(c.registry.is_supported(camera::vendor(id::exposure_seconds)));
}

} // namespace
