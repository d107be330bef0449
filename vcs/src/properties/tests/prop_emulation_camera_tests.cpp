// Emulated values over the simulated camera's standard UVC properties: they
// register only where no UVC control answers, and the software gamma is
// reached by name through the camera's own document.

#include "properties/prop_emulation_emulated_properties.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include <memory_property_store.h>
#include <nox_um/tests/sim_driver_io.h>
#include <sim_uvc_requests.h>

#include "device_impl/uvc/uvc_request.h"
#include "gen_utils/cam_error.h"
#include "properties/genicam_named_req_proxy.h"
#include "properties/std_uvc_property.h"
#include "properties/uvc_standard_properties.h"

namespace {

class device_channel final : public uvc_property::uvc_control_channel {
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

constexpr std::uint16_t pu_gamma_bit = 1u << 5;

// The camera's set-up in order: standard properties, the emulated values and
// their features, then the own document rendered into the proxy.
class emulated_camera_test : public ::testing::Test {
protected:
    void start(bool uvc_gamma)
    {
        auto& set = io.camera.configuration_bytes;
        for (std::size_t at = 0; at + 10 < set.size(); at += set[at] == 0 ? 1 : set[at]) {
            if (set[at + 1] == 0x24 && set[at + 2] == 0x05 && set[at] >= 10) {
                auto controls = static_cast<std::uint16_t>(set[at + 8] | set[at + 9] << 8);
                controls = static_cast<std::uint16_t>(uvc_gamma ? controls | pu_gamma_bit : controls & ~pu_gamma_bit);
                set[at + 8] = static_cast<std::uint8_t>(controls);
                set[at + 9] = static_cast<std::uint8_t>(controls >> 8);
                break;
            }
        }
        responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = nox_um::usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
        const std::uint8_t* descriptors = device->get_configuration_descriptor();
        ASSERT_NE(descriptors, nullptr);
        ASSERT_TRUE(tree.build({descriptors, device->configuration_descriptor_size()}));
        channel = std::make_unique<device_channel>(*device, store);
        standard.build(tree, *channel, registry, false);

        gcxml::build_document(document.doc);
        values.add(registry, document, true);
        text = gcxml::write_register_description(document.doc, "Vendor", "Model", "ToolTip");
        ASSERT_FALSE(proxy.init_and_register(text.data(), text.size(), &proxy));
        proxy.register_handlers();
    }

    cam::property_req_entry_itf* handler(std::uint32_t id)
    {
        return registry.table().find({cam::PROPSETID_VIDCAP_VIDEOPROCAMP, id}, cam::level_override);
    }

    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::unique_ptr<nox_um::usb_device_handle> device;
    cam::uvc_cam::uvc_descriptor_tree tree;
    fake_devices::memory_property_store store;
    std::unique_ptr<device_channel> channel;
    gen_property::gen_property_reqistry registry;
    uvc_property::uvc_standard_properties standard;
    gcxml::doc_builder document{0xBCEA541200040000ull};
    prop_emulation::emulated_properties values;
    drv_genicam::genicam_named_req_proxy proxy{registry};
    std::string text;
};

TEST_F(emulated_camera_test, a_uvc_gamma_control_keeps_its_handler_and_no_gamma_raw_is_added)
{
    start(true);
    EXPECT_NE(dynamic_cast<uvc_property::std_uvc_property*>(handler(5)), nullptr);
    EXPECT_FALSE(values.gamma().in_use());
    EXPECT_EQ(text.find("GammaRaw"), std::string::npos);
    EXPECT_FLOAT_EQ(values.per_frame().gamma, 1.0F);
    // The camera's saturation, sharpness and brightness stay UVC controls; it
    // has no hue, which is emulated.
    EXPECT_FALSE(values.saturation().in_use());
    EXPECT_FALSE(values.sharpness().in_use());
    EXPECT_FALSE(values.brightness().in_use());
    EXPECT_TRUE(values.hue().in_use());
    EXPECT_EQ(handler(2), &values.hue());
    EXPECT_EQ(text.find("SaturationRaw"), std::string::npos);
    EXPECT_NE(text.find("Denoise_Item_Elem"), std::string::npos);
}

TEST_F(emulated_camera_test, without_a_uvc_gamma_a_named_gamma_set_reaches_the_software_gamma)
{
    start(false);
    EXPECT_EQ(handler(5), &values.gamma());
    EXPECT_NE(text.find("GammaRaw"), std::string::npos);

    const double two = 2.0;
    ASSERT_FALSE(proxy.exec_named_set_request("Gamma/Value", &two, sizeof two));
    EXPECT_EQ(values.gamma().value(), 200);
    EXPECT_FLOAT_EQ(values.per_frame().gamma, 2.0F);

    std::int64_t raw = 0;
    std::uint32_t returned = 0;
    ASSERT_FALSE(proxy.exec_named_get_request("GammaRaw/Value", &raw, sizeof raw, returned));
    EXPECT_EQ(raw, 200);

    // The proc-amp request sees the same value; the feature's range holds.
    std::array<std::uint8_t, 40> record{};
    KsPropDataRequest r;
    r.property_set = cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
    r.property_id = 5;
    r.value = record.data();
    r.value_size = 40;
    ASSERT_FALSE(registry.get_request(r, cam::level_override));
    std::int32_t value = 0;
    std::memcpy(&value, record.data() + 24, 4);
    EXPECT_EQ(value, 200);
    const double too_high = 6.0;
    EXPECT_TRUE(proxy.exec_named_set_request("Gamma/Value", &too_high, sizeof too_high));
    EXPECT_EQ(values.gamma().value(), 200);

    // The denoise level by name, within 0 to 25.
    std::int64_t level = 17;
    ASSERT_FALSE(proxy.exec_named_set_request("Denoise_Item_Elem/Value", &level, sizeof level));
    EXPECT_EQ(values.per_frame().denoise, 17);
}

} // namespace
