// The standard UVC property handlers over the simulated camera: which
// controls become handlers, what gets and sets send and persist, and what
// loading stored values writes to the device.

#include "properties/uvc_standard_properties.h"

#include <gtest/gtest.h>

#include <cstring>

#include <memory_property_store.h>
#include <nox_um/tests/sim_driver_io.h>
#include <sim_uvc_requests.h>

#include "device_impl/uvc/uvc_request.h"
#include "gen_utils/cam_error.h"

namespace {

using namespace uvc_property;
using sim_camera::uvc_unit_kind;

// Requests go to the VideoControl interface 0 of the simulated camera.
class device_channel final : public uvc_control_channel {
public:
    device_channel(const nox_um::usb_device_handle& device, utils::property_store_itf& store)
        : device_(device), store_(store)
    {
    }
    std::error_code uvc_request(std::uint8_t request, std::uint8_t unit_id, std::uint8_t selector,
                                std::uint16_t length, void* buffer) override
    {
        return cam::uvc_cam::uvc_request(device_, request, unit_id, 0, selector, length, buffer);
    }
    utils::property_store_itf* property_store() override { return &store_; }

private:
    const nox_um::usb_device_handle& device_;
    utils::property_store_itf& store_;
};

// Bits of the processing unit's bmControls (bytes 8-9 of its descriptor).
struct pu_bits {
    std::uint16_t add = 0;
    std::uint16_t remove = 0;
};

class uvc_properties_test : public ::testing::Test {
protected:
    void start(pu_bits bits = {}, const std::function<void(sim_camera::uvc_responder&)>& edit = nullptr)
    {
        auto& set = io.camera.configuration_bytes;
        for (std::size_t at = 0; at + 10 < set.size(); at += set[at] == 0 ? 1 : set[at]) {
            if (set[at + 1] == 0x24 && set[at + 2] == 0x05 && set[at] >= 10) {
                std::uint16_t controls = static_cast<std::uint16_t>(set[at + 8] | set[at + 9] << 8);
                controls = static_cast<std::uint16_t>((controls | bits.add) & ~bits.remove);
                set[at + 8] = static_cast<std::uint8_t>(controls);
                set[at + 9] = static_cast<std::uint8_t>(controls >> 8);
                break;
            }
        }
        responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
        if (edit) {
            edit(*responder);
        }
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = nox_um::usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
        const std::uint8_t* descriptors = device->get_configuration_descriptor();
        ASSERT_NE(descriptors, nullptr);
        ASSERT_TRUE(tree.build({descriptors, device->configuration_descriptor_size()}));
        channel = std::make_unique<device_channel>(*device, store);
        registry.set_property_store(std::shared_ptr<utils::property_store_itf>(&store, [](auto*) {}));
        properties.build(tree, *channel, registry, false);
    }

    int set_cur_count() const
    {
        int n = 0;
        for (const auto& r : io.camera.control_log()) {
            n += !r.setup.vendor && r.setup.request == 0x01 && (r.setup.index & 0xFF) == 0;
        }
        return n;
    }

    // A get or set of a 40-byte (standard sets) or 48-byte record.
    std::error_code request(std::uint32_t type, const GUID& set, std::uint32_t id, std::int32_t value = 0,
                            std::uint32_t flags = 0, std::uint32_t query_flags = 0)
    {
        record.fill(0);
        std::memcpy(record.data() + 24, &value, 4);
        std::memcpy(record.data() + 28, &flags, 4);
        KsPropDataRequest r;
        r.request_type = type;
        r.property_set = set;
        r.property_id = id;
        r.value = record.data();
        r.value_size = cam::is_standard_video_set(set) ? 40 : 48;
        r.query_flags = query_flags;
        return type == KsPropDataRequest::get ? registry.get_request(r, cam::level_override)
                                              : registry.set_request(r, cam::level_override);
    }
    std::int32_t at(std::size_t offset) const
    {
        std::int32_t v = 0;
        std::memcpy(&v, record.data() + offset, 4);
        return v;
    }

    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::unique_ptr<nox_um::usb_device_handle> device;
    cam::uvc_cam::uvc_descriptor_tree tree;
    fake_devices::memory_property_store store;
    std::unique_ptr<device_channel> channel;
    gen_property::gen_property_reqistry registry;
    uvc_standard_properties properties;
    std::array<std::uint8_t, 48> record{};
};

const GUID& procamp = cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
const GUID& camctl = cam::PROPSETID_VIDCAP_CAMERACONTROL;
const GUID& custom = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
const std::error_code not_impl = make_cam_error(E_NOTIMPL);

TEST_F(uvc_properties_test, announced_controls_become_the_handlers_of_their_rows)
{
    start();
    struct row {
        GUID set;
        std::uint32_t id;
        bool served;
    } rows[] = {
        {procamp, 0, true},  {procamp, 1, true}, {procamp, 2, false}, {procamp, 3, true}, {procamp, 4, true},
        {procamp, 5, false}, {procamp, 7, true}, {procamp, 8, true},  {procamp, 9, true}, {camctl, 4, true},
        {custom, 109, true}, {custom, 101, false}, {camctl, 6, false},
    };
    for (const auto& r : rows) {
        const std::error_code ec = request(KsPropDataRequest::get, r.set, r.id);
        EXPECT_EQ(!ec, r.served) << r.id << " " << ec.message();
        EXPECT_EQ(ec == not_impl, !r.served) << r.id;
    }
    // Brightness: the device's range and value; white balance with its auto.
    ASSERT_FALSE(request(KsPropDataRequest::get, procamp, 0, 0, 0, KsPropDataRequest::query_range));
    EXPECT_EQ(at(0), -64);
    EXPECT_EQ(at(4), 64);
    EXPECT_EQ(at(16), 2);
    ASSERT_FALSE(request(KsPropDataRequest::get, procamp, 7));
    EXPECT_EQ(at(24), 4600);
    EXPECT_EQ(at(28), 1); // auto on
    EXPECT_EQ(at(32), 3);
}

TEST_F(uvc_properties_test, a_control_whose_get_info_fails_gets_no_handler)
{
    start({}, [](sim_camera::uvc_responder& r) {
        r.edit_control(uvc_unit_kind::processing_unit, 0x02, [](auto& c) { c.get_info_fails = true; });
    });
    EXPECT_EQ(request(KsPropDataRequest::get, procamp, 0), not_impl);
    EXPECT_EQ(properties.find(unit_pu, 0x02)->length, 0u);
    EXPECT_FALSE(request(KsPropDataRequest::get, procamp, 1));
}

TEST_F(uvc_properties_test, a_set_persists_under_the_row_name_and_loading_sends_it)
{
    start();
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 0, 10, cam::flag_manual));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x02), 10);
    std::int64_t stored = 0;
    ASSERT_TRUE(store.read_int(L"Brightness", stored));
    EXPECT_EQ(stored, 10);

    store.write_int(L"Brightness", -20);
    store.write_int(L"Exposure", 1234);
    const int before = set_cur_count();
    registry.load_values();
    EXPECT_GE(set_cur_count() - before, 2);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x02), -20);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x04), 1234);
}

TEST_F(uvc_properties_test, exposure_speaks_exponents_and_refuses_those_beyond_the_control)
{
    start();
    // The simulated camera starts in aperture priority: switch to manual first.
    ASSERT_FALSE(request(KsPropDataRequest::set, camctl, 4, 0, cam::flag_manual));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x02), 1);
    std::int64_t mode = 0;
    ASSERT_TRUE(store.read_int(L"ExposureAuto", mode));
    EXPECT_EQ(mode, 1);

    struct row {
        std::int32_t exponent;
        std::optional<std::int64_t> sent;
    } rows[] = {{-2, 2500}, {-13, 1}, {3, 80000}, {19, std::nullopt}, {100, std::nullopt}, {-100, 0}};
    for (const auto& r : rows) {
        const int before = set_cur_count();
        const std::error_code ec = request(KsPropDataRequest::set, camctl, 4, r.exponent, cam::flag_manual);
        if (!r.sent) {
            EXPECT_EQ(ec, make_cam_error(E_INVALIDARG)) << r.exponent;
            EXPECT_EQ(set_cur_count(), before) << r.exponent;
            continue;
        }
        EXPECT_FALSE(ec) << r.exponent;
        EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x04), *r.sent) << r.exponent;
    }
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 109, 2500, cam::flag_manual));
    ASSERT_FALSE(request(KsPropDataRequest::get, camctl, 4));
    EXPECT_EQ(at(24), -2);
    EXPECT_EQ(at(28), 2); // manual
    EXPECT_EQ(at(32), 3);
    ASSERT_FALSE(request(KsPropDataRequest::get, custom, 109));
    EXPECT_EQ(at(24), 2500);
    EXPECT_EQ(at(36), 1);
    EXPECT_EQ(at(40), 100000);
}

// A client sets back each exponent the range reports. The exponent of a bound
// whose time is no power-of-two fraction of a second turns back into a time
// past that bound: the set writes the bound itself.
struct exposure_range {
    std::int32_t minimum, maximum;           // device, 100-us units
    std::int32_t reported_min, reported_max; // exponents
    std::int64_t sent_at_min, sent_at_max;
};

std::ostream& operator<<(std::ostream& out, const exposure_range& r)
{
    return out << "[" << r.minimum << ", " << r.maximum << "]";
}

class uvc_exposure_range_test : public uvc_properties_test,
                                public ::testing::WithParamInterface<exposure_range> {};

TEST_P(uvc_exposure_range_test, every_reported_exponent_is_taken_and_sent_inside_the_device_range)
{
    const exposure_range r = GetParam();
    start({}, [&](sim_camera::uvc_responder& camera) {
        camera.edit_control(uvc_unit_kind::camera_terminal, 0x04, [&](auto& c) {
            sim_camera::uvc_responder::put_value(c.minimum, r.minimum);
            sim_camera::uvc_responder::put_value(c.maximum, r.maximum);
            sim_camera::uvc_responder::put_value(c.default_value, r.minimum);
            sim_camera::uvc_responder::put_value(c.current, r.minimum);
        });
        camera.edit_control(uvc_unit_kind::camera_terminal, 0x02, [](auto& c) { c.current[0] = 1; }); // manual
    });
    ASSERT_FALSE(request(KsPropDataRequest::get, camctl, 4, 0, 0, KsPropDataRequest::query_range));
    ASSERT_EQ(at(0), r.reported_min);
    ASSERT_EQ(at(4), r.reported_max);
    EXPECT_EQ(at(8), r.reported_min) << "the default is the minimum";
    for (std::int32_t d = r.reported_min; d <= r.reported_max; ++d) {
        ASSERT_FALSE(request(KsPropDataRequest::set, camctl, 4, d, cam::flag_manual)) << d;
        const std::int64_t sent = *responder->current_value(uvc_unit_kind::camera_terminal, 0x04);
        EXPECT_GE(sent, r.minimum) << d;
        EXPECT_LE(sent, r.maximum) << d;
        if (d == r.reported_min) {
            EXPECT_EQ(sent, r.sent_at_min);
        }
        if (d == r.reported_max) {
            EXPECT_EQ(sent, r.sent_at_max);
        }
        ASSERT_FALSE(request(KsPropDataRequest::get, camctl, 4));
        EXPECT_EQ(at(24), d) << "the value reads back as the exponent set";
    }
}

INSTANTIATE_TEST_SUITE_P(device_ranges, uvc_exposure_range_test,
                         ::testing::Values(exposure_range{1, 3000, -13, -1, 1, 3000},         // 0.3 s
                                           exposure_range{1, 100000, -13, 3, 1, 80000},       // 10 s
                                           exposure_range{15000, 100000, 0, 3, 15000, 80000}, // from 1.5 s
                                           exposure_range{3, 7000, -11, 0, 4, 7000}));        // 0.7 s

TEST_F(uvc_properties_test, shutter_priority_reports_manual_and_a_set_with_those_flags_writes_the_exposure)
{
    start({}, [](sim_camera::uvc_responder& r) {
        r.edit_control(uvc_unit_kind::camera_terminal, 0x02, [](auto& c) {
            c.resolution[0] = 0x0F; // manual, auto, shutter and aperture priority
            c.current[0] = 4;
        });
    });
    ASSERT_FALSE(request(KsPropDataRequest::get, camctl, 4));
    EXPECT_EQ(at(28), 2) << "shutter priority: manual exposure";
    EXPECT_EQ(at(32), 3);
    ASSERT_FALSE(request(KsPropDataRequest::set, camctl, 4, -2, static_cast<std::uint32_t>(at(28))));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x04), 2500);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x02), 4) << "the mode stays";
    ASSERT_FALSE(request(KsPropDataRequest::get, custom, 109));
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 109, 1234, static_cast<std::uint32_t>(at(28))));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x04), 1234);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x02), 4);
    // Auto asked for: aperture priority, the exposure left alone.
    ASSERT_FALSE(request(KsPropDataRequest::set, camctl, 4, -2, cam::flag_auto));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x02), 8);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::camera_terminal, 0x04), 1234);
}

// A control the device refuses once: the handler still knows the device's
// state, so the next set does what it asks, and a reapply sends no refused
// value.
TEST_F(uvc_properties_test, a_refused_set_leaves_the_handler_with_the_device_state)
{
    start({0x0004 | 0x0800, 0}, [](sim_camera::uvc_responder& r) { // hue and hue auto, auto off
        r.edit_control(uvc_unit_kind::processing_unit, 0x10, [](auto& c) { c.current.fill(0); });
        r.edit_control(uvc_unit_kind::camera_terminal, 0x02, [](auto& c) { c.current[0] = 1; }); // manual
    });
    const auto stall = [&](uvc_unit_kind kind, std::uint8_t selector, bool on) {
        responder->edit_control(kind, selector, [on](auto& c) { c.stalls = on; });
    };
    struct row {
        GUID set;
        std::uint32_t id;
        uvc_unit_kind kind;
        std::uint8_t auto_selector, value_selector;
        std::int64_t auto_on;
    } rows[] = {
        {procamp, 2, uvc_unit_kind::processing_unit, 0x10, 0x06, 1},
        {camctl, 4, uvc_unit_kind::camera_terminal, 0x02, 0x04, 8},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.id);
        const auto auto_before = responder->current_value(r.kind, r.auto_selector);
        const auto value_before = responder->current_value(r.kind, r.value_selector);
        stall(r.kind, r.auto_selector, true);
        EXPECT_TRUE(request(KsPropDataRequest::set, r.set, r.id, -3, cam::flag_auto));
        stall(r.kind, r.auto_selector, false);
        EXPECT_EQ(responder->current_value(r.kind, r.auto_selector), auto_before);
        ASSERT_FALSE(request(KsPropDataRequest::set, r.set, r.id, -3, cam::flag_auto));
        EXPECT_EQ(responder->current_value(r.kind, r.auto_selector), r.auto_on) << "auto on after the retry";
        EXPECT_EQ(responder->current_value(r.kind, r.value_selector), value_before);

        ASSERT_FALSE(request(KsPropDataRequest::set, r.set, r.id, -3, cam::flag_manual)); // auto off
        stall(r.kind, r.value_selector, true);
        EXPECT_TRUE(request(KsPropDataRequest::set, r.set, r.id, -3, cam::flag_manual));
        stall(r.kind, r.value_selector, false);
        registry.reapply_values();
        EXPECT_EQ(responder->current_value(r.kind, r.value_selector), value_before) << "the refused value stays unsent";
    }
}

TEST_F(uvc_properties_test, setting_hue_with_auto_turns_auto_on_and_leaves_the_value)
{
    start({0x0004 | 0x0800, 0}, [](sim_camera::uvc_responder& r) { // hue and hue auto, auto off
        r.edit_control(uvc_unit_kind::processing_unit, 0x10, [](auto& c) { c.current.fill(0); });
    });
    const auto hue_before = responder->current_value(uvc_unit_kind::processing_unit, 0x06);
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 2, 77, cam::flag_auto));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x10), 1);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x06), hue_before);
    std::int64_t stored = 0;
    EXPECT_TRUE(store.read_int(L"Hue.auto", stored));
    EXPECT_FALSE(store.read_int(L"Hue", stored));
    // Auto off again with a value: only the auto control changes.
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 2, 77, cam::flag_manual));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x10), 0);
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 2, 77, cam::flag_manual));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x06), 77);
}

TEST_F(uvc_properties_test, white_balance_component_auto_alone_is_an_auto_only_property)
{
    // No temperature and no temperature auto; component auto only.
    start({0x2000, 0x0040 | 0x1000});
    ASSERT_FALSE(request(KsPropDataRequest::get, procamp, 7));
    EXPECT_EQ(at(32), 1); // capabilities: auto only
    EXPECT_EQ(at(24), 0);
    EXPECT_EQ(request(KsPropDataRequest::set, custom, 101, 5), not_impl); // no component control
}

TEST_F(uvc_properties_test, component_and_temperature_persist_under_their_own_names)
{
    start({0x0080, 0}); // white balance component beside the temperature
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 7, 5000, cam::flag_manual)); // auto off
    ASSERT_FALSE(request(KsPropDataRequest::set, procamp, 7, 5000, cam::flag_manual));
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 102, 0x22, cam::flag_manual));
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 101, 0x11, cam::flag_manual));
    std::int64_t temperature = 0;
    std::int64_t component = 0;
    ASSERT_TRUE(store.read_int(L"WhitebalanceTemperature", temperature));
    ASSERT_TRUE(store.read_int(L"WhitebalanceComponent", component));
    EXPECT_EQ(temperature, 5000);
    EXPECT_EQ(component, 0x00220011);
    ASSERT_FALSE(request(KsPropDataRequest::get, custom, 102));
    EXPECT_EQ(at(24), 0x22);
    // Loading writes each value to its own control.
    registry.load_values();
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x0A), 5000);
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x0C), 0x00220011);
}

// Each component write carries the other half from what the handler holds:
// a half the device refused must not ride along with the next write.
TEST_F(uvc_properties_test, a_refused_white_balance_component_is_not_sent_with_the_other_one)
{
    start({0x0080, 0});
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 102, 0x22, cam::flag_manual)); // red
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 101, 0x11, cam::flag_manual)); // blue
    responder->edit_control(uvc_unit_kind::processing_unit, 0x0C, [](auto& c) { c.stalls = true; });
    EXPECT_TRUE(request(KsPropDataRequest::set, custom, 101, 0x33, cam::flag_manual));
    responder->edit_control(uvc_unit_kind::processing_unit, 0x0C, [](auto& c) { c.stalls = false; });
    ASSERT_FALSE(request(KsPropDataRequest::set, custom, 102, 0x44, cam::flag_manual));
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x0C), 0x00440011);
    registry.reapply_values();
    EXPECT_EQ(responder->current_value(uvc_unit_kind::processing_unit, 0x0C), 0x00440011);
    std::int64_t stored = 0;
    ASSERT_TRUE(store.read_int(L"WhitebalanceComponent", stored));
    EXPECT_EQ(stored, 0x00440011);
}

} // namespace
