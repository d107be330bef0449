// UVC class requests and stream negotiation through the driver over the
// simulated camera, which answers probe/commit and its unit controls.

#include "device_impl/uvc/uvc_request.h"
#include "device_impl/uvc/uvc_stream_negotiation.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <memory_property_store.h>
#include <nox_um/tests/sim_driver_io.h>
#include <sim_uvc_requests.h>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"

namespace {

using namespace cam::uvc_cam;
using nox_um::usb_device_handle;
using sim_camera::uvc_responder;
using sim_camera::uvc_unit_kind;

constexpr std::uint8_t camera_terminal_id = 1;
constexpr std::uint8_t processing_unit_id = 2;

class uvc_sim_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<usb_device_handle>(std::move(file).value(), io.device_path());
        const std::uint8_t* set = device->get_configuration_descriptor();
        ASSERT_NE(set, nullptr);
        ASSERT_TRUE(tree.build({set, device->configuration_descriptor_size()}));
        inputs = read_input_formats(tree, false, nullptr);
        for (std::uint32_t i = 0; i < inputs.size(); ++i) {
            cam::stream_format_entry e;
            e.position = i;
            e.info.StreamFormatInfoId = i;
            e.info.MediaTypeFourCC = input_format_fourcc(inputs[i].guid);
            e.info.BitsPerPixel = inputs[i].bits_per_pixel;
            e.info.MinDim = {inputs[i].width, inputs[i].height};
            e.info.MaxDim = {inputs[i].max_width, inputs[i].max_height};
            e.info.StepDim = {inputs[i].width_step, inputs[i].height_step};
            entries.push_back(e);
        }
    }

    // Control transfers of the class (UVC) kind that reached the device.
    std::vector<sim_camera::control_record> class_requests() const
    {
        std::vector<sim_camera::control_record> out;
        for (const auto& r : io.camera.control_log()) {
            if (!r.setup.vendor) {
                out.push_back(r);
            }
        }
        return out;
    }

    nox_um_test::sim_driver_io io;
    uvc_responder responder{io.camera};
    std::unique_ptr<usb_device_handle> device;
    uvc_descriptor_tree tree;
    std::vector<input_format> inputs;
    std::vector<cam::stream_format_entry> entries;
};

const cam::stream_format y800_1080{img::fourcc("Y800"), 1920, 1080, 0};

TEST_F(uvc_sim_test, request_addresses_unit_selector_and_interface)
{
    std::uint8_t value[2]{};
    std::uint32_t transferred = 99;
    ASSERT_FALSE(uvc_request(*device, uvc_req::get_cur, processing_unit_id, 0, 0x02, 2, value, &transferred));
    EXPECT_EQ(transferred, 2u);
    const std::uint8_t set[2] = {0x10, 0x00};
    ASSERT_FALSE(uvc_request(*device, uvc_req::set_cur, processing_unit_id, 0, 0x02, 2, const_cast<std::uint8_t*>(set),
                             &transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(responder.current_value(uvc_unit_kind::processing_unit, 0x02), 16);
    ASSERT_FALSE(uvc_request(*device, uvc_req::get_cur, processing_unit_id, 0, 0x02, 2, value));
    EXPECT_EQ(value[0], 0x10);

    const auto log = class_requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].setup.recipient, 1);
    EXPECT_EQ(log[1].setup.request, 0x01);
    EXPECT_EQ(log[1].setup.value, 0x0200);
    EXPECT_EQ(log[1].setup.index, processing_unit_id << 8);
    EXPECT_FALSE(log[1].setup.device_to_host);
    EXPECT_EQ(log[1].out_data, (std::vector<std::uint8_t>{0x10, 0x00}));
    EXPECT_TRUE(log[2].setup.device_to_host);
}

TEST_F(uvc_sim_test, controls_report_their_announced_ranges_and_faults_fail_the_request)
{
    struct row {
        std::uint8_t unit, selector, request, length;
        std::int64_t expected;
    } rows[] = {
        {camera_terminal_id, 0x04, uvc_req::get_max, 4, 100000}, {camera_terminal_id, 0x04, uvc_req::get_def, 4, 333},
        {camera_terminal_id, 0x02, uvc_req::get_res, 1, 0x09},   {processing_unit_id, 0x0A, uvc_req::get_min, 2, 2800},
        {processing_unit_id, 0x02, uvc_req::get_min, 2, -64},    {processing_unit_id, 0x05, uvc_req::get_len, 1, 1},
        {processing_unit_id, 0x02, uvc_req::get_info, 1, 3},
    };
    for (const auto& r : rows) {
        std::uint8_t value[4]{};
        ASSERT_FALSE(uvc_request(*device, r.request, r.unit, 0, r.selector, r.length, value))
            << int(r.selector) << "/" << int(r.request);
        std::array<std::uint8_t, 16> field{};
        std::copy_n(value, 4, field.begin());
        EXPECT_EQ(uvc_responder::read_value(field, r.length), r.expected) << int(r.selector) << "/" << int(r.request);
    }
    // Unannounced control, GET_INFO failure and a stalling control.
    EXPECT_EQ(responder.controls().size(), 11u); // 2 camera-terminal and 9 processing-unit controls
    std::uint8_t word[2]{};
    EXPECT_TRUE(uvc_request(*device, uvc_req::get_cur, processing_unit_id, 0, 0x06, 2, word)); // hue not announced
    std::uint8_t byte = 0;
    responder.edit_control(uvc_unit_kind::processing_unit, 0x03, [](auto& c) { c.get_info_fails = true; });
    EXPECT_TRUE(uvc_request(*device, uvc_req::get_info, processing_unit_id, 0, 0x03, 1, &byte));
    EXPECT_FALSE(uvc_request(*device, uvc_req::get_info, processing_unit_id, 0, 0x07, 1, &byte));
    responder.set_stall_all(true);
    EXPECT_TRUE(uvc_request(*device, uvc_req::get_info, processing_unit_id, 0, 0x07, 1, &byte));
}

TEST_F(uvc_sim_test, firmware_revision_answers_the_vendor_request)
{
    responder.set_firmware_revision(0x01020304);
    noxkm::control_setup setup{1, 0, 0x01, 0, 0};
    std::uint8_t data[4]{};
    ASSERT_FALSE(device->control(IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, data, sizeof data));
    EXPECT_EQ(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24, 0x01020304);
}

TEST_F(uvc_sim_test, negotiation_probes_reads_back_and_commits_in_order)
{
    responder.set_stream_sizes(1920 * 1080 + 4096, 0x2000000);
    auto result = negotiate_stream(*device, entries, inputs, y800_1080, 333333, 0x2000000, nullptr);
    ASSERT_TRUE(result.has_value()) << result.error().message();
    const auto log = class_requests();
    ASSERT_EQ(log.size(), 4u);
    const std::pair<int, int> order[] = {{0x01, 0x0100}, {0x81, 0x0100}, {0x01, 0x0200}, {0x81, 0x0200}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(log[i].setup.request, order[i].first) << i;
        EXPECT_EQ(log[i].setup.value, order[i].second) << i;
        EXPECT_EQ(log[i].setup.index, streaming_interface) << i;
        EXPECT_EQ(log[i].setup.length, 34) << i;
    }
    vs_probe_commit sent;
    const auto probe = responder.last_probe_set();
    ASSERT_EQ(probe.size(), 34u);
    std::copy(probe.begin(), probe.end(), sent.data());
    EXPECT_EQ(sent.hint(), 1);
    EXPECT_EQ(sent.format_index(), 1);
    EXPECT_EQ(sent.frame_index(), 2);
    EXPECT_EQ(sent.frame_interval(), 333333u);
    EXPECT_EQ(sent.max_payload_transfer_size(), 0x2000000u);

    EXPECT_EQ(result.value().input.fourcc, img::fourcc("Y800"));
    EXPECT_EQ(result.value().input.width, 1920);
    // dwMaxVideoFrameSize above the image size raises the buffer length.
    EXPECT_EQ(result.value().input.buffer_length, 1920u * 1080u + 4096u);
    EXPECT_EQ(result.value().commit.max_payload_transfer_size(), 0x2000000u);
    EXPECT_EQ(result.value().interval, 333333u);
}

TEST_F(uvc_sim_test, negotiation_faults_fail_before_or_at_commit)
{
    const HRESULT invalid = E_INVALIDARG;
    // Unknown format: nothing is sent.
    auto unknown = negotiate_stream(*device, entries, inputs, {img::fourcc("Y800"), 800, 600, 0}, 333333, 4096,
                                    nullptr);
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(cam::to_hresult(unknown.error()), invalid);
    EXPECT_TRUE(class_requests().empty());

    // Another bFormatIndex or bFrameIndex in the probe answer than the probe's
    // (format 1, frame 2): no commit. Another interval is the camera's choice.
    struct answer {
        std::optional<std::uint8_t> format_index, frame_index;
        std::optional<std::uint32_t> interval;
        bool committed;
    } answers[] = {
        {0, {}, {}, false},     {2, {}, {}, false},   {0xFF, {}, {}, false},
        {{}, 1, {}, false},     {{}, 3, {}, false},   {{}, 0xFF, {}, false},
        {2, 1, {}, false},      {2, {}, 400000, false},
        {1, 2, {}, true},       {{}, {}, 400000, true},
    };
    responder.set_stream_sizes(1920 * 1080, 0x2000000);
    for (const answer& a : answers) {
        responder.set_probe_format_index_override(a.format_index);
        responder.set_probe_frame_index_override(a.frame_index);
        responder.set_probe_interval_override(a.interval);
        const int commits_before = responder.commit_count();
        auto negotiated = negotiate_stream(*device, entries, inputs, y800_1080, 333333, 4096, nullptr);
        const std::string row = std::to_string(a.format_index.value_or(1)) + "/" +
                                std::to_string(a.frame_index.value_or(2)) + "/" +
                                std::to_string(a.interval.value_or(333333));
        EXPECT_EQ(negotiated.has_value(), a.committed) << row;
        EXPECT_EQ(responder.commit_count(), commits_before + (a.committed ? 1 : 0)) << row;
        if (!negotiated.has_value()) {
            EXPECT_EQ(cam::to_hresult(negotiated.error()), invalid) << row;
        } else {
            EXPECT_EQ(negotiated.value().commit.frame_interval(), a.interval.value_or(333333)) << row;
        }
    }
    responder.set_probe_format_index_override(std::nullopt);
    responder.set_probe_frame_index_override(std::nullopt);
    responder.set_probe_interval_override(std::nullopt);

    // Committed sizes that cannot be streamed.
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {0, 0x2000000}, {1920 * 1080, 0}, {0xFFFFFFFF, 0x2000000}, {1920 * 1080, 0xFFFFFFFF}};
    for (const auto& [frame, payload] : sizes) {
        responder.set_stream_sizes(frame, payload);
        auto refused = negotiate_stream(*device, entries, inputs, y800_1080, 333333, 4096, nullptr);
        ASSERT_FALSE(refused.has_value()) << frame << "/" << payload;
        EXPECT_EQ(cam::to_hresult(refused.error()), invalid);
    }

    // Frames are sized for an uncompressed image even when the camera commits
    // less, so an image beyond 256 MiB is refused whatever the commit; a
    // compressed format's frames are as long as the camera commits.
    responder.set_stream_sizes(1920 * 1080, 0x2000000);
    const auto found = find_stream_format_entry(entries, y800_1080.fourcc, 1920, 1080);
    ASSERT_TRUE(found.has_value());
    const struct {
        std::int32_t height;
        bool compressed, accepted;
    } images[] = {{16384, false, true}, {16385, false, false}, {16385, true, true}};
    for (const auto& image : images) {
        SCOPED_TRACE(testing::Message() << image.height << " " << image.compressed);
        auto huge_inputs = inputs;
        auto huge_entries = entries;
        auto& input = huge_inputs[huge_entries[*found].info.StreamFormatInfoId];
        input.width = input.max_width = 16384;
        input.height = input.max_height = image.height;
        input.compressed = image.compressed;
        huge_entries[*found].info.MinDim = huge_entries[*found].info.MaxDim = {16384, image.height};
        auto negotiated = negotiate_stream(*device, huge_entries, huge_inputs,
                                           {img::fourcc("Y800"), 16384, image.height, 0}, 333333, 4096, nullptr);
        ASSERT_EQ(negotiated.has_value(), image.accepted);
        if (negotiated.has_value()) {
            EXPECT_EQ(negotiated.value().compressed, image.compressed);
        } else {
            EXPECT_EQ(cam::to_hresult(negotiated.error()), invalid);
        }
    }

    // A stall ends the sequence with the driver's error.
    responder.set_stream_sizes(1920 * 1080, 0x2000000);
    responder.set_stall_all(true);
    auto stalled = negotiate_stream(*device, entries, inputs, y800_1080, 333333, 4096, nullptr);
    ASSERT_FALSE(stalled.has_value());
    EXPECT_NE(cam::to_hresult(stalled.error()), S_OK);
}

TEST_F(uvc_sim_test, bus_environment_reads_speed_and_store)
{
    fake_devices::memory_property_store store;
    auto env = read_bus_environment(*device, &store);
    EXPECT_TRUE(env.usb3);
    EXPECT_FALSE(env.store_max_transfer_size.has_value());
    store.write_string(L"max_transfer_size", L"8192");
    EXPECT_FALSE(read_bus_environment(*device, &store).store_max_transfer_size.has_value());
    store.write_int(L"max_transfer_size", 8192);
    env = read_bus_environment(*device, &store);
    EXPECT_EQ(env.store_max_transfer_size, 8192);
    EXPECT_EQ(max_bus_transfer_size(tree.pipes(), env), 8192u);
    store.write_int(L"max_transfer_size", 4096);
    EXPECT_EQ(max_bus_transfer_size(tree.pipes(), read_bus_environment(*device, &store)),
              env.windows8_or_later ? 0x2000000u : 0xA00000u);
}

} // namespace
