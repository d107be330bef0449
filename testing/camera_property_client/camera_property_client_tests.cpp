// A client process reads and sets the GenICam-backed camera properties and the
// service's feature groups through the proxy/stub library, the service's COM
// objects and the test camera's handler registry; every reply record is
// compared byte for byte.
#include <bit>
#include <cstring>

#include "camera_feature_fixture.h"
#include "properties/genext_feature_groups.h"
#include "property_client_fixture.h"

namespace {

using namespace property_client_test;

class camera_property_client : public property_client_fixture {
protected:
    camera_test::description description = camera_test::full_description();
    genicam_test::memory_device_port device;
    drv_genicam::genicam_named_req_proxy proxy{*requests};
    drv_genicam::exposure exposure;
    drv_genicam::gain gain;
    drv_genicam::strobe strobe;
    drv_genicam::gpio gpio;
    genext::tone_mapping_settings tone;
    std::uint32_t polarization = 0;
    std::string camera_text = description.xml();
    std::string service_text;

    template <class T>
    void poke(const char* feature, T value)
    {
        std::memcpy(device.memory.data() + description.address(feature), &value, sizeof(value));
    }
    template <class T>
    T peek(const char* feature)
    {
        T value{};
        std::memcpy(&value, device.memory.data() + description.address(feature), sizeof(value));
        return value;
    }

    void SetUp() override
    {
        // The camera as its feature set-up leaves it: its document on its
        // device, the service's groups in the second document, handlers bound.
        ASSERT_FALSE(proxy.init_and_register(camera_text.data(), camera_text.size(), &device));
        const auto docs = std::span<const drv_genicam::doc_entry>(proxy.documents());
        drv_genicam::add_exposure(exposure, docs, *requests);
        drv_genicam::add_gain(gain, docs, *requests);
        drv_genicam::add_strobe(strobe, docs, *requests);
        gpio.bind(drv_genicam::find_feature_as<GenICam::IInteger>(docs, "GPIn"),
                  drv_genicam::find_feature_as<GenICam::IInteger>(docs, "GPOut"));
        requests->register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::gpio}, &gpio,
                                   cam::level_base);
        gcxml::doc_builder writer(0xBCEA541200040000);
        gcxml::build_document(writer.doc);
        genext::add_tone_mapping(tone, writer, *requests, false);
        genext::add_polarization(polarization, writer, *requests, true);
        service_text = gcxml::write_register_description(writer.doc, "Vendor", "Model", "Tip");
        ASSERT_FALSE(proxy.init_and_register(service_text.data(), service_text.size(), &proxy));
        proxy.register_handlers();

        poke("Gain", 3.0);
        poke<std::int64_t>("GainRawHidden", 120);
        poke<std::int32_t>("GainAuto", 1);
        poke("ExposureTime", 10000.0);
        poke<std::int32_t>("StrobeEnable", 1);
        poke<std::int64_t>("StrobeDuration", 700);
        poke<std::int64_t>("GPIn", 1);
        tone.intensity = -2.5F;

        ASSERT_NO_FATAL_FAILURE(start_service());
    }
};

TEST_F(camera_property_client, records_reach_the_client_byte_for_byte)
{
    const auto answers = client_answers();
    ASSERT_FALSE(answers.empty());

    std::vector<unsigned char> strobe_bytes(88, 0);
    put(strobe_bytes, 24, 1u);
    put(strobe_bytes, 40 + 4, 700);     // duration value
    put(strobe_bytes, 52, 100000);      // duration maximum
    put(strobe_bytes, 56, 100);         // duration default
    put(strobe_bytes, 36, 10000);       // delay maximum
    put(strobe_bytes, 64, 1u);          // polarity present
    put(strobe_bytes, 72, 1u);
    std::vector<unsigned char> gpio_bytes(40, 0);
    put(gpio_bytes, 24, 1);
    put(gpio_bytes, 32, 1);
    put(gpio_bytes, 36, 1);
    std::vector<unsigned char> intensity(8, 0);
    put(intensity, 0, -2.5);

    struct row {
        const char* name;
        std::uint32_t hr;
        std::uint32_t returned;
        std::string bytes; // empty: not compared
    };
    const row rows[] = {
        {"get_gain_vpa", 0, 48, record48(120, 3, 3, 0, 480, 0)},
        {"get_exposure_cc", 0, 48, record48(-6, 2, 3, -15, 4, -6)},
        {"get_gain_241", 0, 48, record48(300, 2, 2, 0, 4800, 0)},
        {"get_exposure_200", 0, 56, record56(0.01F, 0.00002F, 30.0F, 0.01F)},
        {"get_strobe", 0, 88, hex(strobe_bytes)},
        {"get_strobe_87", 0x8007007A, 88, {}},
        {"get_gpio", 0, 40, hex(gpio_bytes)},
        {"get_gpio_39", 0x8007007A, 40, {}},
        {"set_gain_241", 0, 0, {}},
        {"set_exposure_cc", 0, 0, {}},
        {"set_exposure_cc_31", 0x80070057, 0, {}},
        {"set_exposure_cc_min", 0x80070057, 0, {}},
        {"set_exposure_200", 0, 0, {}},
        {"set_exposure_200_55", 0x8007007A, 0, {}},
        {"get_exposure_200_after", 0, 56, record56(0.25F, 0.00002F, 30.0F, 0.01F)},
        {"get_intensity", 0, 8, hex(intensity)},
        {"get_polarization", 0, 11, {}},
    };
    for (const row& r : rows) {
        const auto found = answers.find(r.name);
        ASSERT_NE(found, answers.end()) << r.name;
        EXPECT_EQ(found->second.hr, r.hr) << r.name;
        EXPECT_EQ(found->second.returned, r.returned) << r.name;
        if (!r.bytes.empty()) {
            EXPECT_EQ(found->second.bytes, r.bytes) << r.name;
        }
    }
    EXPECT_EQ(answers.at("get_polarization").bytes.substr(0, 22), hex({'I', 'n', 't', 'e', 'n', 's', 'i', 't', 'y',
                                                                      '_', '0'}));
    std::lock_guard lock(requests->request_mutex());
    EXPECT_EQ(peek<double>("Gain"), 12.5);
    EXPECT_EQ(peek<double>("ExposureTime"), 250000.0);
}

} // namespace
