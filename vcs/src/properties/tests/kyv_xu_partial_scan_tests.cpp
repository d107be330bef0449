// The vendor extension unit over the simulated camera and its simulated unit:
// what the probe registers, the scaling-mode list, binning, the stream
// settings and frame intervals, re-applying the region, and devices that
// answer badly.

#include "properties/kyv_xu_partial_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <nox_um/tests/sim_driver_io.h>
#include <sim_uvc_requests.h>
#include <sim_xu_unit.h>

#include "device_impl/uvc/uvc_request.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"

namespace {

using namespace kyv_xu_props;
using cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
using cam::PROPSETID_KYV_BINNING;

const std::error_code not_impl = make_cam_error(E_NOTIMPL);
const std::error_code invalid_arg = make_cam_error(E_INVALIDARG);
const std::error_code too_small = make_cam_error(static_cast<HRESULT>(0x8007007A));
constexpr std::uint8_t unit_id = sim_camera::sim_xu_unit::default_unit_id;

class device_channel final : public uvc_property::uvc_control_channel {
public:
    explicit device_channel(const nox_um::usb_device_handle& device) : device_(device) {}
    std::error_code uvc_request(std::uint8_t request, std::uint8_t unit, std::uint8_t selector, std::uint16_t length,
                                void* buffer) override
    {
        return cam::uvc_cam::uvc_request(device_, request, unit, 0, selector, length, buffer);
    }
    utils::property_store_itf* property_store() override { return nullptr; }

private:
    const nox_um::usb_device_handle& device_;
};

// The flip handler of another family that the unit sits above.
class flip_handler final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override
    {
        ++gets;
        return cam::write_range_value_reply(request, 2, 0, 1, 0, value, 2);
    }
    std::error_code set_request(KsPropDataRequest& request) override
    {
        ++sets;
        auto read = cam::read_value_and_flags_result(request);
        if (!read) {
            return read.error();
        }
        value = read.value().value;
        return {};
    }
    std::int32_t value = 0;
    int gets = 0;
    int sets = 0;
};

// Log lines of one test.
class uvc_test_log {
public:
    uvc_test_log() : saved_(service_log_level.exchange(3))
    {
        set_log_sink(1, [this](std::uint32_t, const char* text) { lines_.emplace_back(text); });
    }
    ~uvc_test_log()
    {
        set_log_sink(1, nullptr);
        service_log_level = saved_;
    }
    int count(std::string_view text) const
    {
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }

private:
    std::uint32_t saved_;
    std::vector<std::string> lines_;
};

struct set_cur_record {
    std::uint8_t selector;
    std::uint16_t index;
    std::vector<std::uint8_t> data;
};

class partial_scan_test : public ::testing::Test {
protected:
    // A camera whose extension unit announces `xu_control_size` bytes of
    // controls (0: no unit); `edit` changes the simulated unit before the
    // driver starts.
    void start(std::uint8_t xu_control_size = 7, const std::function<void(sim_camera::sim_xu_unit&)>& edit = nullptr)
    {
        io.camera.configuration_bytes = sim_camera::build_configuration(sim_camera::uvc_camera_spec("Y800", xu_control_size));
        responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
        unit = std::make_unique<sim_camera::sim_xu_unit>(io.camera);
        if (edit) {
            edit(*unit);
        }
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = nox_um::usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
        const std::uint8_t* descriptors = device->get_configuration_descriptor();
        ASSERT_NE(descriptors, nullptr);
        ASSERT_TRUE(tree.build({descriptors, device->configuration_descriptor_size()}));
        channel = std::make_unique<device_channel>(*device);
        scan = std::make_unique<partial_scan>(*channel, tree);
    }
    void probe()
    {
        scan->probe_and_register(registry);
    }

    // SET_CUR requests to the unit since the log was last marked.
    std::vector<set_cur_record> unit_sets() const
    {
        std::vector<set_cur_record> out;
        const auto log = io.camera.control_log();
        for (std::size_t i = mark; i < log.size(); ++i) {
            const auto& r = log[i];
            if (!r.setup.vendor && r.setup.request == 0x01 && (r.setup.index >> 8) == unit_id) {
                out.push_back({static_cast<std::uint8_t>(r.setup.value >> 8), r.setup.index, r.out_data});
            }
        }
        return out;
    }
    std::vector<std::uint8_t> unit_set_selectors() const
    {
        std::vector<std::uint8_t> out;
        for (const auto& r : unit_sets()) {
            out.push_back(r.selector);
        }
        return out;
    }
    void mark_log() { mark = io.camera.control_log().size(); }

    std::error_code get(const GUID& set, std::uint32_t id, std::vector<std::uint8_t>& buffer, std::uint32_t size)
    {
        buffer.assign(size, 0xEE);
        KsPropDataRequest r;
        r.request_type = KsPropDataRequest::get;
        r.property_set = set;
        r.property_id = id;
        r.value = size == 0 ? nullptr : buffer.data();
        r.value_size = size;
        const std::error_code ec = registry.get_request(r, cam::level_override);
        returned = r.bytes_returned;
        return ec;
    }
    std::error_code set(std::uint32_t id, std::int32_t value)
    {
        std::vector<std::uint8_t> record(48, 0);
        std::memcpy(record.data() + 24, &value, 4);
        KsPropDataRequest r;
        r.request_type = KsPropDataRequest::set;
        r.property_set = PROPSETID_FWCAM1394_CUSTOM_PROP;
        r.property_id = id;
        r.value = record.data();
        r.value_size = 48;
        return registry.set_request(r, cam::level_override);
    }
    static std::int32_t i32(const std::vector<std::uint8_t>& b, std::size_t offset)
    {
        std::int32_t v = 0;
        std::memcpy(&v, b.data() + offset, 4);
        return v;
    }

    // Every occupied position: (set GUID's Data1, id, level).
    std::vector<std::tuple<std::uint32_t, std::uint32_t, unsigned>> positions_of(cam::property_req_entry_itf* h)
    {
        std::vector<std::tuple<std::uint32_t, std::uint32_t, unsigned>> out;
        registry.table().for_each_position(
            [&](const cam::property_req_key& key, unsigned level, cam::property_req_entry_itf& handler) {
                if (&handler == h) {
                    out.emplace_back(static_cast<std::uint32_t>(key.property_set.Data1), key.property_id, level);
                }
            });
        return out;
    }

    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::unique_ptr<sim_camera::sim_xu_unit> unit;
    std::unique_ptr<nox_um::usb_device_handle> device;
    cam::uvc_cam::uvc_descriptor_tree tree;
    std::unique_ptr<device_channel> channel;
    gen_property::gen_property_reqistry registry;
    std::unique_ptr<partial_scan> scan;
    std::size_t mark = 0;
    std::uint32_t returned = 0;
};

TEST_F(partial_scan_test, the_probe_registers_what_the_unit_offers_and_sits_above_an_existing_flip)
{
    start();
    flip_handler flip;
    ASSERT_FALSE(registry.register_handler({PROPSETID_FWCAM1394_CUSTOM_PROP, id_reverse_x}, &flip, cam::level_base));
    probe();

    EXPECT_TRUE(scan->has_offsets());
    EXPECT_TRUE(scan->has_scaling_modes());
    EXPECT_TRUE(scan->has_frame_interval_control());
    EXPECT_TRUE(scan->has_auto_center_and_offsets());
    EXPECT_EQ(scan->max_size().width, 1920);
    EXPECT_EQ(scan->max_size().height, 1080);
    EXPECT_EQ(scan->requested_size().width, 1920);
    EXPECT_EQ(scan->binning_factor(), 1);

    const std::uint32_t fw = PROPSETID_FWCAM1394_CUSTOM_PROP.Data1;
    const std::uint32_t binning = PROPSETID_KYV_BINNING.Data1;
    auto keys = positions_of(scan.get());
    std::sort(keys.begin(), keys.end());
    std::vector<std::tuple<std::uint32_t, std::uint32_t, unsigned>> expected = {
        {fw, id_x_offset, 0},       {fw, id_y_offset, 0},   {fw, id_auto_center, 0},
        {fw, id_binning_factor, 0}, {fw, id_reverse_x, 1},  {binning, id_scaling_modes, 0}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);

    // The modes of binning 1, 2 and 4; binning 3 has none. The probe leaves
    // binning 1 selected on the device.
    ASSERT_EQ(scan->scaling_modes().size(), 3u);
    EXPECT_EQ(scan->scaling_modes()[0][0], 1);
    EXPECT_EQ(scan->scaling_modes()[1][0], 2);
    EXPECT_EQ(scan->scaling_modes()[2][0], 4);
    EXPECT_EQ(scan->scaling_modes()[2][3], 40);
    EXPECT_EQ(unit->current_value(19), 1);
}

TEST_F(partial_scan_test, the_mode_list_reports_the_full_count_and_copies_what_fits)
{
    start();
    probe();
    std::vector<std::uint8_t> b;
    EXPECT_EQ(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 7), too_small);
    EXPECT_EQ(returned, 32u);

    ASSERT_FALSE(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 8));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(i32(b, 0), 8);
    EXPECT_EQ(i32(b, 4), 3);

    ASSERT_FALSE(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 20));
    EXPECT_EQ(returned, 20u);
    EXPECT_EQ(i32(b, 4), 3);
    EXPECT_EQ(b[8], 1);
    EXPECT_EQ(b[16], 2); // the second entry, cut after four bytes
    EXPECT_EQ(b[19], 20);

    ASSERT_FALSE(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 64));
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(b[24], 4);
    EXPECT_EQ(b[32], 0xEE);

    EXPECT_EQ(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 0), too_small);
    KsPropDataRequest null_buffer;
    null_buffer.property_set = PROPSETID_KYV_BINNING;
    null_buffer.property_id = id_scaling_modes;
    null_buffer.value_size = 32;
    EXPECT_EQ(registry.get_request(null_buffer, cam::level_override), make_cam_error(E_POINTER));
}

TEST_F(partial_scan_test, binning_factors_below_one_three_and_outside_the_range_are_refused_without_a_device_write)
{
    start(7, [](sim_camera::sim_xu_unit& u) {
        // The device's range starts at 0: a factor of 0 must still be refused.
        u.edit_control(19, [](sim_camera::xu_control_state& c) { c.minimum[0] = 0; });
    });
    probe();
    mark_log();
    for (const std::int32_t bad : {0, -1, 3, 5}) {
        EXPECT_EQ(set(id_binning_factor, bad), invalid_arg) << bad;
        EXPECT_EQ(scan->binning_factor(), 1);
    }
    EXPECT_FALSE(set(id_binning_factor, 4));
    EXPECT_EQ(scan->binning_factor(), 4);
    EXPECT_EQ(unit_set_selectors(), std::vector<std::uint8_t>{});

    std::vector<std::uint8_t> b;
    ASSERT_FALSE(get(PROPSETID_FWCAM1394_CUSTOM_PROP, id_binning_factor, b, 48));
    EXPECT_EQ(i32(b, 24), 4);
    EXPECT_EQ(i32(b, 32), 2);
    EXPECT_EQ(i32(b, 36), 1);
    EXPECT_EQ(i32(b, 40), 4);
    EXPECT_EQ(i32(b, 44), 1);

    // With binning 4 the frame intervals still divide by a factor of 1 at least.
    auto intervals = scan->frame_intervals(1, 0, {480, 270});
    ASSERT_TRUE(intervals.has_value());
    EXPECT_EQ(intervals.value().back(), 333333u);
}

TEST_F(partial_scan_test, stream_settings_go_out_in_order_and_renew_the_interval_range)
{
    start();
    probe();
    mark_log();
    ASSERT_FALSE(scan->apply_stream_settings(1, 2, {1280, 720}));
    const auto sets = unit_sets();
    ASSERT_EQ(sets.size(), 4u);
    const std::uint8_t order[] = {16, 19, 17, 18};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sets[i].selector, order[i]);
        EXPECT_EQ(sets[i].index, unit_id << 8);
    }
    EXPECT_EQ(unit->current_value(16), 1);
    EXPECT_EQ(unit->current_value(19), 2);
    EXPECT_EQ(unit->current_value(17), 1280);
    EXPECT_EQ(unit->current_value(18), 720);

    // Binning 2 allows a shorter interval, which the list then ends with.
    auto intervals = scan->frame_intervals(1, 2, {960, 540});
    ASSERT_TRUE(intervals.has_value());
    const std::vector<std::uint64_t> tail = {333333, 285714, 250000, 222222, 200000, 166666};
    ASSERT_GE(intervals.value().size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), intervals.value().end() - tail.size()));
    EXPECT_EQ(intervals.value().front(), 3333333u);

    // A size that binning 2 cannot deliver falls back to binning 1.
    intervals = scan->frame_intervals(1, 2, {1280, 720});
    ASSERT_TRUE(intervals.has_value());
    EXPECT_EQ(intervals.value(), (std::vector<std::uint64_t>{3333333, 2500000, 2000000, 1666666, 1428571, 1250000,
                                                              1111111, 1000000, 833333, 714285, 625000, 555555,
                                                              500000, 400000, 333333}));
    EXPECT_EQ(unit->current_value(19), 1);

    // The size range: the width and height controls after binning 1 and the maximum size.
    const partial_scan_size_range range = scan->size_range(1);
    EXPECT_EQ(range.valid, 1);
    EXPECT_EQ(range.min.width, 16);
    EXPECT_EQ(range.max.height, 1080);
    EXPECT_EQ(range.step.width, 16);
    EXPECT_EQ(range.step.height, 8);
    EXPECT_EQ(unit->current_value(17), 1920);
}

TEST_F(partial_scan_test, region_controls_are_read_written_and_reapplied_until_auto_centre_is_off)
{
    start();
    probe();
    std::vector<std::uint8_t> b;
    ASSERT_FALSE(get(PROPSETID_FWCAM1394_CUSTOM_PROP, id_auto_center, b, 48));
    EXPECT_EQ(i32(b, 24), 1);
    EXPECT_EQ(i32(b, 40), 1);

    unit->edit_control(51, [](sim_camera::xu_control_state& c) {
        sim_camera::uvc_responder::put_value(c.current, 0x0002FFFD); // -3 and 2
    });
    ASSERT_FALSE(set(id_x_offset, 64));
    EXPECT_EQ(unit->current_value(21), 64);
    EXPECT_EQ(scan->extra_values()[0], -3);
    EXPECT_EQ(scan->extra_values()[1], 2);
    ASSERT_FALSE(get(PROPSETID_FWCAM1394_CUSTOM_PROP, id_x_offset, b, 48));
    EXPECT_EQ(i32(b, 24), 64);
    EXPECT_EQ(i32(b, 40), 1904);
    ASSERT_FALSE(set(id_y_offset, 32));

    mark_log();
    scan->reapply_value();
    EXPECT_EQ(unit_set_selectors(), (std::vector<std::uint8_t>{23, 21, 22}));
    EXPECT_EQ(unit_sets()[1].data, (std::vector<std::uint8_t>{64, 0}));

    ASSERT_FALSE(set(id_auto_center, 0));
    EXPECT_EQ(unit->current_value(23), 0);
    mark_log();
    scan->reapply_value();
    EXPECT_EQ(unit_set_selectors(), std::vector<std::uint8_t>{23});

    // A device that refuses the write: the error reaches the client.
    unit->edit_control(21, [](sim_camera::xu_control_state& c) { c.stalls = true; });
    EXPECT_TRUE(set(id_x_offset, 8));
}

TEST_F(partial_scan_test, flips_pass_to_the_level_zero_handler_and_refresh_the_extra_values)
{
    start();
    flip_handler flip;
    const cam::property_req_key keys[] = {{PROPSETID_FWCAM1394_CUSTOM_PROP, id_reverse_x},
                                          {PROPSETID_FWCAM1394_CUSTOM_PROP, id_reverse_y}};
    ASSERT_FALSE(registry.register_handler_keys(keys, &flip, cam::level_base));
    probe();
    unit->edit_control(51, [](sim_camera::xu_control_state& c) {
        sim_camera::uvc_responder::put_value(c.current, 0x00070005);
    });
    ASSERT_FALSE(set(id_reverse_y, 1));
    EXPECT_EQ(flip.sets, 1);
    EXPECT_EQ(flip.value, 1);
    EXPECT_EQ(scan->extra_values()[0], 5);
    EXPECT_EQ(scan->extra_values()[1], 7);
    std::vector<std::uint8_t> b;
    ASSERT_FALSE(get(PROPSETID_FWCAM1394_CUSTOM_PROP, id_reverse_x, b, 48));
    EXPECT_EQ(flip.gets, 1);
    EXPECT_EQ(i32(b, 24), 1);
}

class partial_scan_length_test : public partial_scan_test, public ::testing::WithParamInterface<int> {};

TEST_P(partial_scan_length_test, an_unusable_control_length_leaves_the_control_out)
{
    const auto length = static_cast<std::uint8_t>(GetParam());
    start(7, [&](sim_camera::sim_xu_unit& u) {
        u.edit_control(17, [&](sim_camera::xu_control_state& c) { c.reported_length = length; });
        u.edit_control(48, [&](sim_camera::xu_control_state& c) { c.reported_length = length; });
    });
    probe();
    EXPECT_FALSE(scan->has_offsets());
    EXPECT_TRUE(scan->scaling_modes().empty());
    uvc_property::UVCPropertyData record;
    EXPECT_TRUE(scan->query_xu_control(record, xu::width));
    EXPECT_EQ(record.length, 0u);
    // Nothing asked the device for more than the 16 bytes a value holds.
    for (const auto& r : io.camera.control_log()) {
        EXPECT_LE(r.setup.length, 16u);
    }
    // The unit still offers the rest.
    EXPECT_TRUE(scan->has_auto_center_and_offsets());
}

INSTANTIATE_TEST_SUITE_P(lengths, partial_scan_length_test, ::testing::Values(0, 17, 255));

TEST_F(partial_scan_test, a_short_scaling_mode_control_gives_no_mode_list)
{
    start(7, [](sim_camera::sim_xu_unit& u) {
        u.edit_control(48, [](sim_camera::xu_control_state& c) { c.length = 6; });
    });
    uvc_test_log log;
    probe();
    EXPECT_TRUE(scan->scaling_modes().empty());
    EXPECT_EQ(scan->query_scaling_modes(), invalid_arg);
    EXPECT_EQ(log.count("XU_SCALING_MODE_INFO exporting too few bytes. should be (at least) sizeof( ScalingModeInfo ) "
                        "is len=6."),
              2);
    std::vector<std::uint8_t> b;
    EXPECT_EQ(get(PROPSETID_KYV_BINNING, id_scaling_modes, b, 32), not_impl);
}

TEST_F(partial_scan_test, a_binning_range_from_zero_lists_only_the_values_with_a_mode)
{
    start(7, [](sim_camera::sim_xu_unit& u) {
        u.edit_control(19, [](sim_camera::xu_control_state& c) { c.minimum[0] = 0; });
    });
    probe();
    EXPECT_EQ(scan->scaling_modes().size(), 3u); // binning 0 has no mode
    EXPECT_EQ(set(id_binning_factor, 0), invalid_arg);
}

TEST_F(partial_scan_test, a_binning_range_of_all_32_bits_reads_256_values_and_logs_once)
{
    start(7, [](sim_camera::sim_xu_unit& u) {
        u.edit_control(19, [](sim_camera::xu_control_state& c) {
            c.length = 4;
            sim_camera::uvc_responder::put_value(c.minimum, INT32_MIN);
            sim_camera::uvc_responder::put_value(c.maximum, INT32_MAX);
        });
        u.set_scaling_mode(INT32_MIN + 1, {9, 1, 1, 0, 0, 0, 0, 0});
    });
    uvc_test_log log;
    probe();
    int binning_writes = 0;
    for (const auto& r : unit_sets()) {
        binning_writes += r.selector == xu::binning;
    }
    EXPECT_EQ(binning_writes, 257); // 256 values, then 1 again
    EXPECT_EQ(log.count("is too wide"), 1);
    ASSERT_EQ(scan->scaling_modes().size(), 1u);
    EXPECT_EQ(scan->scaling_modes()[0][0], 9);
    EXPECT_EQ(unit->current_value(19), 1);
}

TEST_F(partial_scan_test, a_frame_interval_minimum_of_zero_gives_no_intervals)
{
    start(7, [](sim_camera::sim_xu_unit& u) { u.set_frame_interval_range(1, 0, 3333333); });
    probe();
    auto intervals = scan->frame_intervals(1, 1, {0, 0});
    ASSERT_TRUE(intervals.has_value());
    EXPECT_TRUE(intervals.value().empty());
}

TEST_F(partial_scan_test, a_unit_that_stalls_every_request_gets_no_handler)
{
    start(7, [](sim_camera::sim_xu_unit& u) { u.set_stall_all(true); });
    probe();
    EXPECT_TRUE(positions_of(scan.get()).empty());
    EXPECT_FALSE(scan->has_offsets() || scan->has_scaling_modes() || scan->has_frame_interval_control() ||
                 scan->has_auto_center_and_offsets());
    EXPECT_EQ(scan->frame_intervals(1, 1, {0, 0}).error(), not_impl);
    EXPECT_EQ(scan->size_range(1).valid, 0);
}

TEST_F(partial_scan_test, a_camera_without_the_unit_gets_no_handler)
{
    start(0);
    probe();
    EXPECT_TRUE(positions_of(scan.get()).empty());
    EXPECT_EQ(scan->find_xu_unit_by_guid(15), -1);
    uvc_property::UVCPropertyData record;
    EXPECT_EQ(scan->query_xu_control(record, xu::width), not_impl);
    EXPECT_EQ(unit->request_count(0x85), 0); // no request reached a unit
}

TEST_F(partial_scan_test, the_default_unit_size_lacks_the_mode_and_extra_controls)
{
    start(3);
    EXPECT_EQ(scan->find_xu_unit_by_guid(xu::width - 1), unit_id);
    EXPECT_EQ(scan->find_xu_unit_by_guid(xu::scaling_mode_info - 1), -1);
    EXPECT_EQ(scan->find_xu_unit_by_guid(xu::extra_values - 1), -1);
}

} // namespace
