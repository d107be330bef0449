// The camera base over a small UVC camera on the simulated device: the
// initialisation sequence, the offered formats, the private property sets,
// the device information and the overlay.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "device_impl/camera_base/processing_level.h"
#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "test_uvc_camera.h"

namespace {

using namespace uvc_test;
using cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
using cam::PROPSETID_UVC_DRIVER;

const std::error_code not_impl = make_cam_error(E_NOTIMPL);
const std::error_code invalid_arg = make_cam_error(E_INVALIDARG);
const std::error_code too_small = make_cam_error(static_cast<HRESULT>(0x8007007A));
const std::error_code no_pointer = make_cam_error(E_POINTER);

class usb_camera_base_test : public ::testing::Test {
protected:
    void SetUp() override { bench.open(); }
    void init()
    {
        ASSERT_FALSE(bench.camera->init_device());
    }

    std::error_code get(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* value,
                        std::uint32_t value_size, std::uint32_t& returned)
    {
        returned = 0xFFFF;
        return bench.camera->get_request(set, id, instance, instance_size, value, value_size, &returned, 0);
    }
    std::error_code set(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                        void* value, std::uint32_t value_size)
    {
        return bench.camera->set_request(set, id, instance, instance_size, value, value_size);
    }

    camera_bench bench;
};

TEST_F(usb_camera_base_test, init_logs_its_sequence_and_offers_the_two_formats)
{
    log_capture log;
    init();
    const std::vector<std::string> expected = {
        "[CamTovra] >> Initializing derived device.",
        "[CamTovra] >> Initializing standard properties.",
        "[CamTovra] << Initializing standard properties. Done.",
        "[CamTovra] << Initializing derived device. Done.",
        "[CamTovra] >> Initializing video formats.",
        "[CamTovra] DataRanges as exported by the driver :",
        "[CamTovra]     id=  0, input_idx= 0, type='Y800', dim=( 640, 480)",
        "[CamTovra]     id=  1, input_idx= 1, type='Y800', dim=(1920,1080)",
        "[CamTovra] << Initializing video formats. Done ",
        "[CamTovra] << Now loading property values from registry. >>",
        "[CamTovra] drv_genicam::genicam_named_req_proxy::init_and_register, has 1 docs.",
        "[CamTovra] << Finished init successfully. >>",
    };
    const auto lines = log.all();
    std::size_t at = 0;
    for (const auto& line : lines) {
        if (at < expected.size() && line.rfind(expected[at], 0) == 0) {
            ++at;
        }
    }
    EXPECT_EQ(at, expected.size()) << "missing or out of order: " << (at < expected.size() ? expected[at] : "");

    const auto formats = bench.camera->list_formats();
    ASSERT_EQ(formats.size(), 2u);
    const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1080}};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(formats[i].StreamFormatInfoId, i);
        EXPECT_EQ(formats[i].MediaTypeFourCC, img::fourcc("Y800"));
        EXPECT_EQ(formats[i].MaxDim.cx, sizes[i].first);
        EXPECT_EQ(formats[i].MaxDim.cy, sizes[i].second);
        EXPECT_EQ(formats[i].DefaultAvgTimePerFrame, 333333u);
    }
    auto intervals = bench.camera->get_frame_intervals(1);
    ASSERT_TRUE(intervals);
    EXPECT_EQ(intervals.value(), std::vector<std::uint64_t>{333333});
    EXPECT_EQ(bench.camera->get_frame_intervals(7).error(), invalid_arg);
    EXPECT_NE(bench.camera->device_line().find("dev: fw_rev=0 pid="), std::string::npos);
    EXPECT_EQ(bench.camera->driver_line().rfind("drv: CamTovraService km=", 0), 0u);
}

TEST_F(usb_camera_base_test, uvc_driver_set_answers_its_four_ids)
{
    init();
    std::uint32_t returned = 0;
    std::int32_t value = -1;
    EXPECT_FALSE(get(PROPSETID_UVC_DRIVER, 4, nullptr, 0, &value, 4, returned));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 4, nullptr, 0, &value, 3, returned), too_small);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 4, nullptr, 0, nullptr, 4, returned), no_pointer);
    EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 4, nullptr, 0, &value, 4), not_impl);
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 25, nullptr, 0, &value, 4, returned), not_impl);
    EXPECT_FALSE(set(PROPSETID_UVC_DRIVER, 25, nullptr, 0, nullptr, 0));
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 5, nullptr, 0, &value, 4, returned), not_impl);

    // Processing level.
    const std::uint32_t detected = bench.camera->processor_features();
    struct row {
        std::int32_t level;
        std::error_code result;
        std::int32_t reported;
    } rows[] = {{3, {}, 3}, {1, {}, 1}, {9, {}, 9}, {10, invalid_arg, 9}, {-1, invalid_arg, 9},
                {0, {}, cam::processing_level(detected)}};
    for (const auto& r : rows) {
        std::int32_t level = r.level;
        EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 26, nullptr, 0, &level, 4), r.result) << r.level;
        ASSERT_FALSE(get(PROPSETID_UVC_DRIVER, 26, nullptr, 0, &value, 4, returned));
        EXPECT_EQ(value, r.reported) << r.level;
    }
    EXPECT_EQ(bench.camera->processor_features(), detected);
    EXPECT_NE(cam::processing_level(detected), 9);
    std::int32_t level = 3;
    EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 26, nullptr, 0, &level, 3), too_small);
    EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 26, nullptr, 0, nullptr, 4), no_pointer);
}

TEST_F(usb_camera_base_test, driver_pass_through_reads_and_writes_control_transfers)
{
    init();
    bench.responder->set_firmware_revision(0x01020304);
    // Vendor request 0x01 to the device, device to host, 4 bytes.
    std::uint8_t read_header[10] = {1, 0, 0, 0x01, 0, 0, 0, 0, 4, 0};
    std::uint32_t returned = 0;
    std::uint32_t firmware = 0;
    ASSERT_FALSE(get(PROPSETID_UVC_DRIVER, 6, read_header, 10, &firmware, 4, returned));
    EXPECT_EQ(firmware, 0x01020304u);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 6, read_header, 10, &firmware, 3, returned), too_small);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(get(PROPSETID_UVC_DRIVER, 6, read_header, 9, &firmware, 4, returned), too_small);

    // SET_CUR of brightness (unit 2, selector 2) on interface 0.
    std::uint8_t write[12] = {0, 1, 1, 0x01, 0x00, 0x02, 0x00, 0x02, 2, 0, 5, 0};
    EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 6, write, 9, nullptr, 0), too_small);
    EXPECT_EQ(set(PROPSETID_UVC_DRIVER, 6, write, 11, nullptr, 0), too_small);
    ASSERT_FALSE(set(PROPSETID_UVC_DRIVER, 6, write, 12, nullptr, 0));
    EXPECT_EQ(bench.responder->current_value(sim_camera::uvc_unit_kind::processing_unit, 0x02), 5);
}

TEST_F(usb_camera_base_test, generic_id_26_reads_stored_integers_by_key)
{
    bench.store->write_int(L"max_transfer_size", 123456);
    init();
    char key[] = "max_transfer_size";
    std::int64_t value = 0;
    std::uint32_t returned = 0;
    ASSERT_FALSE(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 26, key, sizeof key, &value, 8, returned));
    EXPECT_EQ(value, 123456);
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 26, key, sizeof key - 1, &value, 8, returned), invalid_arg);
    EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 26, key, sizeof key, &value, 7, returned), too_small);
    EXPECT_EQ(returned, 8u);
    char missing[] = "no_such_value";
    EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 26, missing, sizeof missing, &value, 8, returned),
              invalid_arg);
    EXPECT_EQ(set(PROPSETID_GENERIC_DRIVER_INTERFACE, 26, key, sizeof key, &value, 8), not_impl);
    EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 27, key, sizeof key, &value, 8, returned), not_impl);
}

TEST_F(usb_camera_base_test, document_ids_exist_only_with_a_document)
{
    bench.camera->with_document = false;
    init();
    std::uint32_t instance[2] = {1, 0};
    std::uint32_t size = 0;
    std::uint32_t returned = 0;
    for (const std::uint32_t id : {1u, 2u, 4u, 24u}) {
        EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, id, instance, 8, &size, 4, returned), not_impl) << id;
    }
}

TEST_F(usb_camera_base_test, the_own_document_is_served_through_the_proxy)
{
    init();
    std::uint32_t instance[2] = {1, 0};
    std::uint32_t size = 0;
    std::uint32_t returned = 0;
    ASSERT_FALSE(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 1, instance, 8, &size, 4, returned));
    ASSERT_GT(size, 0u);
    std::string text(size, '\0');
    ASSERT_FALSE(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 2, instance, 8, text.data(), size, returned));
    EXPECT_NE(text.find("RegisterDescription"), std::string::npos);
    EXPECT_NE(text.find("Model"), std::string::npos);
    instance[1] = 1;
    EXPECT_EQ(get(PROPSETID_GENERIC_DRIVER_INTERFACE, 1, instance, 8, &size, 4, returned), invalid_arg);
}

TEST_F(usb_camera_base_test, device_information_carries_ids_texts_and_serial)
{
    init();
    cam::device_information info{};
    ASSERT_FALSE(bench.camera->read_device_information(info));
    const auto& d = bench.io.camera.device_descriptor_bytes;
    EXPECT_EQ(info.vendor_id, static_cast<std::uint32_t>(d[8] | d[9] << 8));
    EXPECT_EQ(info.product_id, static_cast<std::uint32_t>(d[10] | d[11] << 8));
    EXPECT_EQ(std::wstring(info.manufacturer), L"Corvane");
    EXPECT_EQ(std::wstring(info.product), L"CamTovra Sim");
    EXPECT_EQ(info.serial_number, cam::unreadable_serial_number); // "SIM00001" is not hexadecimal
    EXPECT_EQ(info.interface_kind, 4u);
    EXPECT_EQ(info.reserved, 0u);
}

TEST_F(usb_camera_base_test, overlay_is_drawn_only_into_the_whole_lines_a_frame_holds)
{
    init();
    bench.responder->set_stream_sizes(640 * 480, 16384);
    ASSERT_FALSE(bench.camera->try_start({img::fourcc("Y800"), 640, 480, 0}, 333333));
    constexpr std::uint64_t line = 640;
    auto frame = cam::make_frame_buffer(line * 480);
    const auto changed = [&](std::uint64_t from, std::uint64_t to) {
        return std::any_of(frame->data() + from, frame->data() + to, [](std::uint8_t b) { return b != 0x55; });
    };
    struct row {
        bool show;
        std::uint64_t capacity; // bytes of the data area the frame says it has
        bool driver_line;       // lines 10..19
        bool device_line;       // lines 20..29
    } rows[] = {{false, line * 480, false, false},
                {true, line * 480, true, true},
                {true, line * 15 + 100, true, false},
                {true, line * 5, false, false}};
    for (const auto& r : rows) {
        std::fill_n(frame->data(), line * 480, std::uint8_t{0x55});
        frame->capacity = r.capacity;
        bench.camera->debug_flags().show_overlay = r.show;
        bench.camera->output_frame(*frame);
        EXPECT_EQ(changed(line * 10, line * 15), r.driver_line) << r.capacity;
        EXPECT_EQ(changed(line * 20, line * 30), r.device_line) << r.capacity;
        // Nothing beyond the whole lines the frame holds.
        const std::uint64_t whole = std::min<std::uint64_t>(r.capacity / line, 480) * line;
        EXPECT_FALSE(changed(whole, line * 480)) << r.capacity;
    }
    frame->capacity = line * 480;
    bench.camera->release_stream();
}

TEST(usb_camera_base_settings, the_stored_service_log_level_sets_the_process_level_from_its_low_byte)
{
    const std::uint32_t saved = service_log_level.load();
    struct row {
        bool as_text;
        std::int64_t stored;
        std::uint32_t expected;
    } rows[] = {{false, 0x103, 3}, {false, 2, 2}, {true, 1, 7}, {false, -2, 0xFE}, {false, 0x7FFF'FFFF'FFFF'0001, 1}};
    for (const auto& r : rows) {
        service_log_level = 7;
        camera_bench bench;
        if (r.as_text) {
            bench.store->write_string(L"service_log_level", std::to_wstring(r.stored));
        } else {
            bench.store->write_int(L"service_log_level", r.stored);
        }
        bench.open();
        EXPECT_EQ(service_log_level.load(), r.expected) << r.stored;
    }
    service_log_level = saved;
}

TEST(usb_camera_base_strings, long_texts_are_cut_and_hexadecimal_serials_parsed)
{
    struct row {
        std::u16string serial;
        std::uint64_t expected;
    } rows[] = {{u"00ABCDEF", 0xABCDEF}, {u"12345678ABCDEF01", 0x12345678ABCDEF01}, {u"12345678ABCDEF012", 0xBEEFBEEF},
                {u"0x12", 0xBEEFBEEF}};
    for (const auto& r : rows) {
        camera_bench bench;
        bench.io.camera.strings[2] = sim_camera::string_descriptor(std::u16string(100, u'x'));
        bench.io.camera.strings[3] = sim_camera::string_descriptor(r.serial);
        bench.open();
        cam::device_information info{};
        ASSERT_FALSE(bench.camera->read_device_information(info));
        EXPECT_EQ(std::wstring(info.product), std::wstring(63, L'x'));
        EXPECT_EQ(info.serial_number, r.expected) << std::string(r.serial.begin(), r.serial.end());
    }
}

} // namespace
