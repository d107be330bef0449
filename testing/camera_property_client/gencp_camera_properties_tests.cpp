// The camera's GenICam-backed properties and the service's feature groups
// over the simulated camera: its GenICam file fetched through the GenCP port
// is the first document, the service's own document the second, and every
// camera request ends in the camera's registers over GenCP, asked in this
// process as the active device asks and from a client process.
#include <cstring>
#include <string>
#include <vector>

#include "properties/genext_feature_groups.h"
#include "properties/genicam_exposure.h"
#include "properties/genicam_gain.h"
#include "properties/genicam_gpio.h"
#include "properties/genicam_strobe.h"
#include "property_client_fixture.h"
#include "u3v_test_bench.h"

namespace {

using namespace property_client_test;
using sim_camera::gencp_command;

constexpr std::uint16_t readmem = 0x0800;
constexpr std::uint16_t writemem = 0x0802;
constexpr HRESULT device_lost = static_cast<HRESULT>(0x80070651);

template <class T>
sim_camera::bytes le(T value)
{
    sim_camera::bytes out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out;
}

// The camera answers `status` to `count` commands of `command_id` at `address`
// (-1: to all).
sim_camera::gencp_fault refusal(std::uint64_t address, std::uint16_t command_id, int count, std::uint16_t status)
{
    sim_camera::gencp_fault fault;
    fault.address = address;
    fault.command_id = command_id;
    fault.count = count;
    fault.status = status;
    return fault;
}

std::vector<unsigned char> named_instance(const char* text)
{
    const std::size_t length = std::strlen(text) + 1;
    std::vector<unsigned char> bytes(8 + length, 0);
    std::memcpy(bytes.data() + 8, text, length);
    return bytes;
}

class gencp_camera : public property_client_fixture {
protected:
    u3v_test::u3v_bench bench;
    drv_genicam::genicam_named_req_proxy proxy{*requests};
    drv_genicam::exposure exposure;
    drv_genicam::gain gain;
    drv_genicam::strobe strobe;
    drv_genicam::gpio gpio;
    genext::tone_mapping_settings tone;
    std::uint32_t polarization = 0;
    std::string service_text;

    // The camera as its feature set-up leaves it: the port opened (the
    // camera's file fetched over GenCP), that file the first document on the
    // port, the service's groups in the second, handlers bound.
    void open_camera()
    {
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
        const auto& file = bench.port.genicam_file();
        ASSERT_FALSE(proxy.init_and_register(file.data(), file.size(), &bench.port));
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
    }

    // Requests as the active device hands them to the camera: under its
    // request lock, standard sets as the merged 48-byte record.
    HRESULT get(const GUID& set, std::uint32_t id, std::vector<unsigned char>& buffer, std::size_t size,
                std::vector<unsigned char> instance = {})
    {
        buffer.assign(size, 0);
        std::uint32_t returned = 0;
        return requests->get_property(&set, id, instance.empty() ? nullptr : instance.data(),
                                      static_cast<std::uint32_t>(instance.size()), buffer.data(),
                                      static_cast<std::uint32_t>(size), &returned);
    }
    HRESULT set(const GUID& set, std::uint32_t id, std::vector<unsigned char> buffer,
                std::vector<unsigned char> instance = {})
    {
        return requests->set_property(&set, id, instance.empty() ? nullptr : instance.data(),
                                      static_cast<std::uint32_t>(instance.size()), buffer.data(),
                                      static_cast<std::uint32_t>(buffer.size()));
    }
    static std::vector<unsigned char> value_record(std::int32_t value, std::uint32_t flags)
    {
        std::vector<unsigned char> record(48, 0);
        put(record, 24, value);
        put(record, 28, flags);
        return record;
    }

    // GenCP commands of `id` at `address` that the camera received since
    // the `from`-th.
    std::size_t seen(std::uint16_t id, std::uint64_t address, std::size_t from = 0) const
    {
        const auto log = bench.gencp.commands();
        std::size_t n = 0;
        for (std::size_t i = from; i < log.size(); ++i) {
            n += log[i].command_id == id && log[i].address == address ? 1 : 0;
        }
        return n;
    }
    float f32(std::uint64_t address) const
    {
        const auto bytes = bench.gencp.peek(address, 4);
        float value = 0;
        if (bytes.size() == 4) {
            std::memcpy(&value, bytes.data(), 4);
        }
        return value;
    }
    std::int32_t i32(std::uint64_t address) const
    {
        const auto bytes = bench.gencp.peek(address, 4);
        std::int32_t value = -1;
        if (bytes.size() == 4) {
            std::memcpy(&value, bytes.data(), 4);
        }
        return value;
    }

    // Values the records below expect: gain 3 dB (raw 120) with its auto on,
    // strobe on for 700 us, input high.
    void set_camera_values()
    {
        bench.gencp.poke(sim_camera::reg_gain, le(3.0F));
        bench.gencp.poke(sim_camera::reg_gain_raw_hidden, le<std::int32_t>(120));
        bench.gencp.poke(sim_camera::reg_gain_auto, le<std::int32_t>(1));
        bench.gencp.poke(sim_camera::reg_strobe_enable, le<std::int32_t>(1));
        bench.gencp.poke(sim_camera::reg_strobe_duration, le<std::int32_t>(700));
        bench.gencp.add_register(sim_camera::reg_gp_in, le<std::int32_t>(1), true);
        tone.intensity = -2.5F;
    }
};

TEST_F(gencp_camera, gain_and_exposure_reach_the_camera_registers_and_read_back)
{
    ASSERT_NO_FATAL_FAILURE(open_camera());
    const GUID& vendor = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
    const GUID& control = cam::PROPSETID_VIDCAP_CAMERACONTROL;
    std::vector<unsigned char> b;

    bench.gencp.poke(sim_camera::reg_gain, le(3.0F));
    std::size_t mark = bench.gencp.commands().size();
    ASSERT_EQ(get(vendor, drv_genicam::vendor_id::gain_hundredths, b, 48), S_OK);
    EXPECT_EQ(hex(b), record48(300, 2, 2, 0, 4800, 0));
    EXPECT_GE(seen(readmem, sim_camera::reg_gain, mark), 1u);

    mark = bench.gencp.commands().size();
    ASSERT_EQ(set(vendor, drv_genicam::vendor_id::gain_hundredths, value_record(1250, 2)), S_OK);
    EXPECT_EQ(seen(writemem, sim_camera::reg_gain, mark), 1u);
    EXPECT_EQ(f32(sim_camera::reg_gain), 12.5F);
    ASSERT_EQ(get(vendor, drv_genicam::vendor_id::gain_hundredths, b, 48), S_OK);
    EXPECT_EQ(hex(b), record48(1250, 2, 2, 0, 4800, 0));

    // 10 000 us is step -6; the range is 20 us (-15) to 30 s (4).
    mark = bench.gencp.commands().size();
    ASSERT_EQ(get(control, drv_genicam::camera_control_exposure, b, 48), S_OK);
    EXPECT_EQ(hex(b), record48(-6, 2, 3, -15, 4, -6));
    EXPECT_GE(seen(readmem, sim_camera::reg_exposure_time, mark), 1u);
    EXPECT_GE(seen(readmem, sim_camera::reg_exposure_auto, mark), 1u);

    mark = bench.gencp.commands().size();
    ASSERT_EQ(set(control, drv_genicam::camera_control_exposure, value_record(-5, 2)), S_OK);
    EXPECT_EQ(seen(writemem, sim_camera::reg_exposure_time, mark), 1u);
    EXPECT_EQ(f32(sim_camera::reg_exposure_time), 31250.0F);
    ASSERT_EQ(get(control, drv_genicam::camera_control_exposure, b, 48), S_OK);
    EXPECT_EQ(hex(b), record48(-5, 2, 3, -15, 4, -6));

    // A step beyond the camera's range is refused by its node, before any
    // write reaches the camera.
    mark = bench.gencp.commands().size();
    EXPECT_EQ(static_cast<std::uint32_t>(set(control, drv_genicam::camera_control_exposure, value_record(31, 2))),
              0x80070057u);
    EXPECT_EQ(seen(writemem, sim_camera::reg_exposure_time, mark), 0u);

    // The auto flag switches ExposureAuto on the camera and leaves the time.
    mark = bench.gencp.commands().size();
    ASSERT_EQ(set(control, drv_genicam::camera_control_exposure, value_record(3, 1)), S_OK);
    EXPECT_EQ(seen(writemem, sim_camera::reg_exposure_auto, mark), 1u);
    EXPECT_EQ(seen(writemem, sim_camera::reg_exposure_time, mark), 0u);
    EXPECT_EQ(i32(sim_camera::reg_exposure_auto), 1);
    EXPECT_EQ(f32(sim_camera::reg_exposure_time), 31250.0F);
    ASSERT_EQ(get(control, drv_genicam::camera_control_exposure, b, 48), S_OK);
    EXPECT_EQ(hex(b), record48(-5, 3, 3, -15, 4, -6));
}

TEST_F(gencp_camera, gencp_errors_mid_request_come_back_mapped_and_the_port_stays_usable)
{
    ASSERT_NO_FATAL_FAILURE(open_camera());
    const GUID& vendor = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
    std::vector<unsigned char> b;

    // The strobe record reads enable, polarity and delay before the duration
    // that the camera refuses once.
    bench.gencp.add_fault(refusal(sim_camera::reg_strobe_duration, readmem, 1, 0x8006));
    std::size_t mark = bench.gencp.commands().size();
    EXPECT_EQ(static_cast<std::uint32_t>(get(vendor, drv_genicam::vendor_id::strobe, b, 88)), 0x80070005u);
    EXPECT_GE(seen(readmem, sim_camera::reg_strobe_enable, mark), 1u);
    EXPECT_GE(seen(readmem, sim_camera::reg_strobe_delay, mark), 1u);
    EXPECT_EQ(seen(readmem, sim_camera::reg_strobe_duration, mark), 1u);
    ASSERT_EQ(get(vendor, drv_genicam::vendor_id::strobe, b, 88), S_OK);

    // Busy acknowledging the write of a set: E_PENDING.
    bench.gencp.add_fault(refusal(sim_camera::reg_gain, writemem, 1, 0x8007));
    EXPECT_EQ(static_cast<std::uint32_t>(set(vendor, drv_genicam::vendor_id::gain_hundredths, value_record(500, 2))),
              0x8000000Au);
    EXPECT_EQ(set(vendor, drv_genicam::vendor_id::gain_hundredths, value_record(500, 2)), S_OK);

    // The camera leaves the bus: its features answer "device removed", the
    // service's own features still answer.
    bench.io.remove_device();
    EXPECT_EQ(get(vendor, drv_genicam::vendor_id::exposure_seconds, b, 56), device_lost);
    EXPECT_EQ(set(vendor, drv_genicam::vendor_id::gain_hundredths, value_record(500, 2)), device_lost);
    EXPECT_EQ(get(cam::PROPSETID_VIDCAP_CAMERACONTROL, drv_genicam::camera_control_exposure, b, 48), device_lost);
    tone.intensity = 1.5F;
    ASSERT_EQ(get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, drv_genicam::genicam_named_req_proxy::id_named_request, b,
                  8, named_instance("ToneMapping_Intensity_Elem/Value")),
              S_OK);
    double intensity = 0;
    std::memcpy(&intensity, b.data(), 8);
    EXPECT_EQ(intensity, 1.5);
}

TEST_F(gencp_camera, a_camera_feature_named_like_a_service_feature_is_the_one_reached)
{
    // The camera's own file names a feature of the service's tone mapping;
    // it is the first document, so its register on the camera is reached.
    constexpr std::uint64_t camera_register = 0x10200;
    const auto description = u3v_test::description();
    std::string xml(description.begin(), description.end());
    xml.insert(xml.rfind("</RegisterDescription>"),
               R"(<Boolean Name="ToneMapping_Enable_Elem"><pValue>CameraToneMappingReg</pValue></Boolean>
  <IntReg Name="CameraToneMappingReg"><Address>0x10200</Address><Length>4</Length><AccessMode>RW</AccessMode>
    <pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
)");
    sim_camera::manifest_file file = sim_camera::gencp_responder::description_entry(0x7031, false);
    file.content.assign(xml.begin(), xml.end());
    bench.gencp.set_manifest({file});
    bench.gencp.add_register(camera_register, sim_camera::bytes(4, 0), false);
    ASSERT_NO_FATAL_FAILURE(open_camera());

    const std::size_t mark = bench.gencp.commands().size();
    ASSERT_EQ(set(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, drv_genicam::genicam_named_req_proxy::id_named_request,
                  le<std::int64_t>(1), named_instance("ToneMapping_Enable_Elem/Value")),
              S_OK);
    EXPECT_EQ(seen(writemem, camera_register, mark), 1u);
    EXPECT_EQ(i32(camera_register), 1);
    EXPECT_EQ(tone.enable, 0);
    // The service's other features stay reachable through its document.
    ASSERT_EQ(set(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, drv_genicam::genicam_named_req_proxy::id_named_request,
                  le(0.75), named_instance("ToneMapping_Intensity_Elem/Value")),
              S_OK);
    EXPECT_EQ(tone.intensity, 0.75F);
}

TEST_F(gencp_camera, a_client_process_gets_the_camera_records_byte_for_byte)
{
    ASSERT_NO_FATAL_FAILURE(open_camera());
    set_camera_values();
    ASSERT_NO_FATAL_FAILURE(start_service());
    const std::size_t mark = bench.gencp.commands().size();
    const auto answers = client_answers();
    ASSERT_FALSE(answers.empty());

    std::vector<unsigned char> strobe_bytes(88, 0);
    put(strobe_bytes, 24, 1u);     // on
    put(strobe_bytes, 36, 10000);  // delay maximum
    put(strobe_bytes, 44, 700);    // duration value
    put(strobe_bytes, 52, 100000); // duration maximum
    put(strobe_bytes, 56, 100);    // duration default
    put(strobe_bytes, 64, 1u);     // polarity present
    put(strobe_bytes, 72, 1u);     // operation present, "FixedDuration"
    std::vector<unsigned char> gpio_bytes(40, 0);
    put(gpio_bytes, 24, 1);
    put(gpio_bytes, 32, 1);
    put(gpio_bytes, 36, 1);

    const struct {
        const char* name;
        std::uint32_t returned;
        std::string bytes;
    } rows[] = {
        {"get_exposure_200", 56, record56(0.01F, 0.00002F, 30.0F, 0.01F)},
        {"get_strobe", 88, hex(strobe_bytes)},
        {"get_gain_241", 48, record48(300, 2, 2, 0, 4800, 0)},
        {"get_gain_vpa", 48, record48(120, 3, 3, 0, 480, 0)},
        {"get_exposure_cc", 48, record48(-6, 2, 3, -15, 4, -6)},
        {"get_gpio", 40, hex(gpio_bytes)},
        {"get_exposure_200_after", 56, record56(0.25F, 0.00002F, 30.0F, 0.01F)},
    };
    for (const auto& r : rows) {
        const auto found = answers.find(r.name);
        ASSERT_NE(found, answers.end()) << r.name;
        EXPECT_EQ(found->second.hr, 0u) << r.name;
        EXPECT_EQ(found->second.returned, r.returned) << r.name;
        EXPECT_EQ(found->second.bytes, r.bytes) << r.name;
    }
    for (const char* name : {"set_gain_241", "set_exposure_cc", "set_exposure_200"}) {
        EXPECT_EQ(answers.at(name).hr, 0u) << name;
    }
    EXPECT_EQ(answers.at("set_exposure_cc_31").hr, 0x80070057u);

    // The sets reached the camera over GenCP.
    std::lock_guard lock(requests->request_mutex());
    EXPECT_EQ(seen(writemem, sim_camera::reg_gain, mark), 1u);
    EXPECT_EQ(seen(writemem, sim_camera::reg_exposure_time, mark), 2u);
    EXPECT_EQ(f32(sim_camera::reg_gain), 12.5F);
    EXPECT_EQ(f32(sim_camera::reg_exposure_time), 250000.0F);
}

TEST_F(gencp_camera, camera_errors_reach_the_client_as_hresults)
{
    ASSERT_NO_FATAL_FAILURE(open_camera());
    set_camera_values();
    ASSERT_NO_FATAL_FAILURE(start_service());

    // A register the camera refuses in the middle of the strobe record.
    bench.gencp.add_fault(refusal(sim_camera::reg_strobe_delay, readmem, -1, 0x8006));
    auto answers = client_answers();
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers.at("get_strobe").hr, 0x80070005u);
    EXPECT_EQ(answers.at("get_exposure_200").hr, 0u);
    bench.gencp.clear_faults();

    // The camera gone: each of its requests is "device removed"; the
    // service's own features still answer.
    bench.io.remove_device();
    answers = client_answers();
    ASSERT_FALSE(answers.empty());
    for (const char* name : {"get_exposure_200", "get_strobe", "get_gain_241", "get_gain_vpa", "get_exposure_cc",
                             "get_gpio", "set_gain_241", "set_exposure_cc", "set_exposure_200"}) {
        EXPECT_EQ(answers.at(name).hr, static_cast<std::uint32_t>(device_lost)) << name;
    }
    std::vector<unsigned char> intensity(8, 0);
    put(intensity, 0, -2.5);
    EXPECT_EQ(answers.at("get_intensity").hr, 0u);
    EXPECT_EQ(answers.at("get_intensity").bytes, hex(intensity));
}

} // namespace
