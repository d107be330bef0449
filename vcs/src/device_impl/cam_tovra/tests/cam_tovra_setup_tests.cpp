// The camera class over the simulated camera, set-up side: what it reads of
// the device, the U3V port and its register access, the features it binds
// from the description, and a camera whose GenCP port does not open.

#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <cstring>

#include <fmt/format.h>

#include "device_impl/camera_base/device_information.h"
#include "gen_utils/cam_error.h"
#include "properties/genicam_property_ids.h"

namespace {

using namespace tovra_test;
using cam::impl::image_processing_mode;

// Features a test adds to the description: each on a register of its own.
std::string int_reg(const char* name, std::uint32_t address)
{
    return fmt::format(R"(<IntReg Name="{}"><Address>{:#x}</Address><Length>4</Length><AccessMode>RW</AccessMode>
        <pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>)",
                       name, address);
}

const std::string extra_features =
    int_reg("GPInReg", 0x7F000) + R"(<Integer Name="GPIn"><pValue>GPInReg</pValue></Integer>)" +
    int_reg("ReverseXReg", 0x7F004) +
    R"(<Boolean Name="ReverseX"><pValue>ReverseXReg</pValue><OnValue>1</OnValue><OffValue>0</OffValue></Boolean>)" +
    R"(<FloatReg Name="Saturation"><Address>0x7F008</Address><Length>4</Length><AccessMode>RW</AccessMode>
        <pPort>Device</pPort><Endianess>LittleEndian</Endianess></FloatReg>)" +
    // Hue of another kind than a float: its property stays unregistered.
    int_reg("Hue", 0x7F00C);

void add_extra_registers(sim_camera::gencp_responder& gencp)
{
    for (std::uint64_t address = 0x7F000; address <= 0x7F00C; address += 4) {
        gencp.add_register(address, sim_camera::bytes(4, 0), false);
    }
}

bool supported(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id)
{
    return camera.is_supported({set, id});
}

struct format_case {
    const char* fourcc;
    image_processing_mode mode;
    std::uint32_t code;
    bool tone_mapping;
};

class device_information_test : public ::testing::TestWithParam<format_case> {};

TEST_P(device_information_test, reports_the_camera_kind_and_the_format_code_of_its_mode)
{
    const format_case c = GetParam();
    bench_options options;
    options.fourcc = c.fourcc;
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_TRUE(bench.camera->u3v_port_open());
    EXPECT_EQ(bench.camera->processing_mode(), c.mode);
    cam::device_information info;
    ASSERT_FALSE(bench.camera->read_device_information(info));
    std::uint8_t raw[sizeof info];
    std::memcpy(raw, &info, sizeof info);
    std::uint32_t at_272 = 0;
    std::uint32_t at_280 = 0;
    std::memcpy(&at_272, raw + 272, 4);
    std::memcpy(&at_280, raw + 280, 4);
    EXPECT_EQ(at_272, 15u);
    EXPECT_EQ(at_280, c.code);
    // The base's part of the record is kept.
    EXPECT_EQ(info.vendor_id, 0xF0CAu);
    EXPECT_EQ(info.product_id, 0x0C01u);
    EXPECT_EQ(std::wstring(info.product), L"CamTovra Sim");
    // The groups of the mode are in the camera's own document.
    EXPECT_EQ(bench.camera->tone_mapping().state != nullptr, c.tone_mapping);
    const auto& documents = bench.camera->genicam_proxy().documents();
    ASSERT_EQ(documents.size(), 2u); // the camera's description, then the own document
    const bool polarization = documents[1].document->find_node("PolarizationVisulizationMode") != nullptr;
    EXPECT_EQ(polarization, c.code >= 16);
}

INSTANTIATE_TEST_SUITE_P(formats, device_information_test,
                         ::testing::Values(format_case{"Y800", image_processing_mode::mono, 1, true},
                                           format_case{"BA81", image_processing_mode::bayer8, 4, true},
                                           format_case{"P180", image_processing_mode::polarization_single, 17,
                                                       false}),
                         [](const auto& info) { return std::string(info.param.fourcc); });

TEST(cam_tovra_setup, register_access_reaches_the_device_registers)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    std::uint64_t address = 0x1C4;
    std::uint8_t caps[8]{};
    std::uint32_t returned = 0;
    ASSERT_FALSE(bench.camera->get_request(cam::PROPSETID_UVC_DRIVER, 35, &address, sizeof address, caps,
                                           sizeof caps, &returned, 0));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(caps[0], 1); // a user-defined name is present
    EXPECT_GE(bench.gencp->readmem_count(0x1C4, 8), 2u); // the port's open read it too

    address = sim_camera::reg_width;
    std::uint8_t width[4] = {0x20, 0x03, 0, 0};
    ASSERT_FALSE(bench.camera->set_request(cam::PROPSETID_UVC_DRIVER, 35, &address, sizeof address, width,
                                           sizeof width));
    EXPECT_EQ(bench.gencp->peek(sim_camera::reg_width, 4), (sim_camera::bytes{0x20, 0x03, 0, 0}));
    // The description's text is served as the first document.
    std::uint32_t size = 0;
    std::uint32_t first_document[2] = {1, 0};
    ASSERT_FALSE(bench.camera->get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 1, first_document,
                                           sizeof first_document, &size, sizeof size, &returned, 0));
    EXPECT_EQ(size, sim_camera::description_xml({}).size());
}

TEST(cam_tovra_setup, firmware_revision_is_cached_and_a_failed_request_is_asked_again)
{
    tovra_bench bench;
    sim_camera::camera& device = bench.io.camera;
    bench.responder->set_firmware_revision(0x01020304);
    ASSERT_TRUE(bench.open());
    const auto firmware_requests = [&] {
        std::size_t n = 0;
        for (const auto& r : device.control_log()) {
            n += r.setup.vendor && r.setup.request == 0x01 && r.setup.device_to_host ? 1 : 0;
        }
        return n;
    };
    bench.responder->set_stall_all(true);
    EXPECT_EQ(bench.camera->firmware_revision(), 0u);
    EXPECT_EQ(bench.camera->firmware_revision(), 0u);
    EXPECT_EQ(firmware_requests(), 2u);
    bench.responder->set_stall_all(false);
    EXPECT_EQ(bench.camera->firmware_revision(), 0x01020304u);
    EXPECT_EQ(bench.camera->firmware_revision(), 0x01020304u);
    EXPECT_EQ(firmware_requests(), 3u);
    cam::device_information info;
    ASSERT_FALSE(bench.camera->read_device_information(info));
    EXPECT_EQ(info.firmware_revision, 0x01020304u);
    EXPECT_EQ(firmware_requests(), 3u);
}

TEST(cam_tovra_setup, features_of_the_description_bind_their_properties_by_kind)
{
    bench_options options;
    options.extra_nodes = extra_features;
    tovra_bench bench(options);
    add_extra_registers(*bench.gencp);
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    EXPECT_TRUE(camera.has_acquisition_start());
    EXPECT_TRUE(camera.has_acquisition_stop());
    EXPECT_TRUE(camera.has_chunk_block_id());
    EXPECT_EQ(camera.chunk_adapter_count(), 1u);
    EXPECT_TRUE(supported(camera, cam::PROPSETID_UVC_DRIVER, 35));
    EXPECT_TRUE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::gpio));
    EXPECT_TRUE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_x));
    EXPECT_FALSE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_y));
    EXPECT_TRUE(supported(camera, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, drv_genicam::video_proc_amp_saturation));
    EXPECT_FALSE(supported(camera, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, drv_genicam::video_proc_amp_gamma));
    // Saturation reads its GenICam register; the integer Hue is not the float
    // the adapter needs, so its register is never read.
    std::uint8_t amp[40]{};
    std::uint32_t amp_returned = 0;
    EXPECT_FALSE(camera.get_request(cam::PROPSETID_VIDCAP_VIDEOPROCAMP, drv_genicam::video_proc_amp_saturation,
                                    nullptr, 0, amp, sizeof amp, &amp_returned, 0));
    EXPECT_GE(bench.gencp->readmem_count(0x7F008, 4), 1u);
    (void)camera.get_request(cam::PROPSETID_VIDCAP_VIDEOPROCAMP, drv_genicam::video_proc_amp_hue, nullptr, 0, amp,
                             sizeof amp, &amp_returned, 0);
    EXPECT_EQ(bench.gencp->readmem_count(0x7F00C, 4), 0u);

    // The flip property reads the camera's register.
    std::uint8_t record[48]{};
    std::uint32_t returned = 0;
    ASSERT_FALSE(camera.get_request(cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_x, nullptr,
                                    0, record, sizeof record, &returned, 0));
    EXPECT_EQ(returned, sizeof record);
    EXPECT_GE(bench.gencp->readmem_count(0x7F004, 4), 1u);
}

TEST(cam_tovra_setup, a_camera_whose_gencp_port_fails_to_open_still_streams_without_its_features)
{
    bench_options options;
    options.gencp = false;
    tovra_bench bench(options);
    log_capture log;
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    EXPECT_FALSE(camera.u3v_port_open());
    EXPECT_EQ(log.count("[CamTovra] Failed to open the U3V register port"), 1u);
    EXPECT_FALSE(camera.has_acquisition_start());
    EXPECT_FALSE(camera.has_chunk_block_id());
    EXPECT_EQ(camera.chunk_adapter_count(), 0u);
    EXPECT_FALSE(supported(camera, cam::PROPSETID_UVC_DRIVER, 35));
    EXPECT_FALSE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::gpio));
    EXPECT_FALSE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_x));
    for (const std::uint32_t id : {drv_genicam::vendor_id::exposure_seconds, drv_genicam::vendor_id::gain_hundredths,
                                   drv_genicam::vendor_id::strobe, drv_genicam::vendor_id::trigger,
                                   drv_genicam::vendor_id::whitebalance_red}) {
        EXPECT_FALSE(supported(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, id)) << id;
    }
    std::uint64_t address = 0x1C4;
    std::uint8_t caps[8]{};
    std::uint32_t returned = 0;
    EXPECT_EQ(camera.get_request(cam::PROPSETID_UVC_DRIVER, 35, &address, sizeof address, caps, sizeof caps,
                                 &returned, 0),
              make_cam_error(E_NOTIMPL));
    // Only the camera's own document.
    EXPECT_EQ(camera.genicam_proxy().documents().size(), 1u);
    cam::device_information info;
    ASSERT_FALSE(camera.read_device_information(info));
    EXPECT_EQ(info.interface_kind, 15u);
    EXPECT_EQ(info.reserved, 1u);

    ASSERT_TRUE(bench.start_vga());
    EXPECT_TRUE(bench.sink.wait_for_frames(3));
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good);
        EXPECT_EQ(f.flags & cam::frame_header::flag_chunk_data, 0u);
    }
    // Without AcquisitionStop a pause stops the pipe.
    camera.stop_streaming();
    EXPECT_FALSE(camera.endpoint_pipe()->running());
}

} // namespace
