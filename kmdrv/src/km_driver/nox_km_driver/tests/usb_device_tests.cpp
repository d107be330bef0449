// The USB device object over the simulated camera: speed checks, descriptors
// (including bad ones), interfaces, the friendly name, control transfers and
// their time-out.

#include "driver_bench.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

namespace {

using noxkm_test::driver_bench;
constexpr DEVPROPKEY friendly_name_key = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

std::wstring friendly_name(driver_bench& bench)
{
    const kmdf::device_property property = kmdf::get_device_property(bench.camera.pdo(), friendly_name_key);
    if (!property.present) {
        return L"<none>";
    }
    EXPECT_EQ(property.type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_STRING));
    EXPECT_EQ(property.flags, static_cast<ULONG>(PLUGPLAY_PROPERTY_PERSISTENT));
    EXPECT_GE(property.data.size(), 2u);
    EXPECT_EQ(property.data[property.data.size() - 2], 0); // terminated
    return std::wstring(reinterpret_cast<const wchar_t*>(property.data.data()), property.data.size() / 2 - 1);
}

std::vector<std::uint8_t> read_configuration(driver_bench& bench, kmdf::io_result* result)
{
    WDFFILEOBJECT file = bench.open(L"");
    const noxkm::descriptor_request request{noxkm::descriptor_configuration, 0, 0};
    std::vector<std::uint8_t> out(65535);
    *result = bench.ioctl(file, IOCTL_NOXKM_GET_DESCRIPTOR, &request, sizeof request, out.data(),
                          static_cast<ULONG>(out.size()));
    out.resize(NT_SUCCESS(result->status) ? result->information : 0);
    bench.host.close(file);
    return out;
}

TEST(usb_device, full_speed_connection_or_missing_bus_interface_is_refused)
{
    for (int variant = 0; variant < 2; ++variant) {
        driver_bench bench;
        (variant == 0 ? bench.camera.high_speed : bench.camera.bus_interface_available) = false;
        EXPECT_EQ(bench.start(), STATUS_DEVICE_CONFIGURATION_ERROR);
        EXPECT_EQ(bench.device, nullptr);
        EXPECT_TRUE(bench.logged("[nox_km]this is not a high speed device, so just quitting."));
        EXPECT_EQ(bench.camera.stats.select_configurations.load(), 0);
    }
}

TEST(usb_device, usb2_port_is_reported_and_the_device_still_starts)
{
    driver_bench bench;
    bench.camera.super_speed = false;
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_TRUE(bench.logged("This is either a non-MS driver or the device is attached to a USB 2 port."));
    EXPECT_TRUE(bench.logged("USBD_VERSION_INFORMATION: supported usb ver = 0x300, usbdi ver = 0x600."));
}

TEST(usb_device, configuration_larger_than_the_first_read_is_read_again_whole)
{
    driver_bench bench;
    auto spec = sim_camera::uvc_camera_spec();
    spec.pad_to = 9000;
    bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_EQ(bench.camera.configuration_read_lengths(), (std::vector<std::uint32_t>{8192, 9000}));
    kmdf::io_result result;
    const auto kept = read_configuration(bench, &result);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(kept, bench.camera.configuration_bytes);
}

TEST(usb_device, alternate_settings_are_collected_up_to_the_first_gap)
{
    driver_bench bench;
    auto spec = sim_camera::uvc_camera_spec();
    sim_camera::alternate_spec one = spec.interfaces[1].alternates[0];
    one.alternate = 1;
    one.endpoints[0].address = 0x85;
    sim_camera::alternate_spec three = one;
    three.alternate = 3;
    spec.interfaces[1].alternates.push_back(one);
    spec.interfaces[1].alternates.push_back(three);
    bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    WDFFILEOBJECT file = bench.open(L"");
    noxkm::interface_info info{};
    noxkm::select_interface_request select{0, 1, 3};
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &select, sizeof select, &info, sizeof info).status,
              STATUS_INVALID_PARAMETER);
    select.alternate_setting = 1;
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &select, sizeof select, &info, sizeof info).status,
              STATUS_SUCCESS);
    EXPECT_EQ(bench.camera.selected_alternate(1), 1);
}

TEST(usb_device, friendly_name_joins_manufacturer_and_product)
{
    struct variant {
        const char* what;
        bool manufacturer_present;
        std::u16string manufacturer;
        std::uint8_t manufacturer_index;
        std::wstring expected;
    };
    const variant variants[] = {
        {"both", true, u"Corvane", 1, L"Corvane Cam"},
        {"manufacturer unreadable", false, u"", 1, L"Cam"},
        {"one-character manufacturer", true, u"A", 1, L"DEADBEEF Cam"},
        {"no manufacturer index", true, u"", 0, L"DEADBEEF Cam"},
    };
    for (const variant& v : variants) {
        driver_bench bench;
        bench.camera.strings[2] = sim_camera::string_descriptor(u"Cam");
        if (v.manufacturer_present) {
            bench.camera.strings[1] = sim_camera::string_descriptor(v.manufacturer);
        } else {
            bench.camera.strings.erase(1);
        }
        bench.camera.device_descriptor_bytes[14] = v.manufacturer_index;
        ASSERT_EQ(bench.start(), STATUS_SUCCESS) << v.what;
        EXPECT_EQ(friendly_name(bench), v.expected) << v.what;
    }
    {
        driver_bench bench;
        bench.camera.strings.erase(1);
        bench.camera.strings.erase(2);
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        EXPECT_EQ(friendly_name(bench), L"<none>");
    }
    {
        // Long texts are cut at 127 characters.
        driver_bench bench;
        bench.camera.strings[1] = sim_camera::string_descriptor(std::u16string(100, u'M'));
        bench.camera.strings[2] = sim_camera::string_descriptor(std::u16string(100, u'P'));
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        const std::wstring name = friendly_name(bench);
        EXPECT_EQ(name.size(), 127u);
        EXPECT_EQ(name.substr(0, 101), std::wstring(100, L'M') + L" ");
    }
}

TEST(usb_device, string_text_ends_at_the_bytes_received_and_on_a_whole_character)
{
    struct variant {
        const char* what;
        sim_camera::bytes raw;
        std::uint32_t reply_limit;
        std::wstring expected_product;
    };
    const variant variants[] = {
        // bLength claims 40 bytes, 8 arrive: three characters, nothing stale.
        {"claims more than arrives", {40, 3, 'C', 0, 'a', 0, 'm', 0}, 0, L"Corvane Cam"},
        // Odd length: the half character is dropped.
        {"odd length", {7, 3, 'C', 0, 'a', 0, 'm'}, 0, L"Corvane Ca"},
        {"zero length", {0, 3, 'C', 0, 'a', 0}, 0, L"Corvane DEADBEEF"},
        {"oversized", sim_camera::bytes(300, 'x'), 0, L""},
    };
    for (const variant& v : variants) {
        driver_bench bench;
        bench.camera.strings[2] = v.raw;
        ASSERT_EQ(bench.start(), STATUS_SUCCESS) << v.what;
        if (!v.expected_product.empty()) {
            EXPECT_EQ(friendly_name(bench), v.expected_product) << v.what;
        } else {
            EXPECT_LE(friendly_name(bench).size(), 127u) << v.what;
        }
    }
}

TEST(usb_device, descriptor_walk_stops_at_zero_length_and_overruns)
{
    {
        // A zero-length descriptor hides everything behind it: only the
        // VideoControl interface in front of it is found and selected.
        driver_bench bench;
        auto spec = sim_camera::uvc_camera_spec();
        auto& status_endpoint = spec.interfaces[0].alternates[0].endpoints[0];
        status_endpoint.class_specific.insert(status_endpoint.class_specific.end(), {0, 0x24});
        bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        NTSTATUS status;
        bench.open(L"\\pipe_81", &status);
        EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE);
        WDFFILEOBJECT pipe = bench.open(L"\\pipe_83", &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        bench.host.close(pipe);
        EXPECT_TRUE(bench.violations_left().empty());
    }
    {
        driver_bench bench;
        sim_camera::bytes bytes = sim_camera::uvc_camera_configuration();
        bytes[9] = 0; // the association descriptor right after the header
        bench.camera.configuration_bytes = bytes;
        EXPECT_EQ(bench.start(), STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(bench.logged("[nox_km]Failed to find first interface."));
    }
    {
        // A descriptor whose length runs past the end of the set.
        driver_bench bench;
        sim_camera::bytes bytes = sim_camera::uvc_camera_configuration();
        bytes[9] = 0xF0;
        bytes.resize(bytes.size() > 200 ? 200 : bytes.size());
        bytes[2] = static_cast<std::uint8_t>(bytes.size());
        bytes[3] = 0;
        bench.camera.configuration_bytes = bytes;
        EXPECT_EQ(bench.start(), STATUS_INVALID_PARAMETER);
    }
}

TEST(usb_device, short_configuration_reads_keep_only_what_arrived)
{
    {
        driver_bench bench;
        bench.camera.descriptor_reply_limit = 5; // not even the header
        EXPECT_EQ(bench.start(), STATUS_DEVICE_DATA_ERROR);
        EXPECT_TRUE(bench.logged("Failed to retrieve device"));
    }
    {
        driver_bench bench;
        const std::size_t full = bench.camera.configuration_bytes.size();
        bench.camera.descriptor_reply_limit = 120; // the set claims more
        ASSERT_GT(full, 120u);
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        bench.camera.descriptor_reply_limit = 0;
        kmdf::io_result result;
        const auto kept = read_configuration(bench, &result);
        ASSERT_EQ(kept.size(), 120u);
        EXPECT_EQ(kept[2] | (kept[3] << 8), 120);
        EXPECT_TRUE(std::equal(kept.begin() + 4, kept.end(), bench.camera.configuration_bytes.begin() + 4));
    }
}

TEST(usb_device, missing_bandwidth_fails_the_start)
{
    driver_bench bench;
    bench.camera.no_bandwidth = true;
    EXPECT_FALSE(NT_SUCCESS(bench.start()));
    EXPECT_TRUE(bench.logged("[nox_km]Not enough bandwidth available. Failing initialization."));
    EXPECT_TRUE(bench.logged("[nox_km]Failed to select device configuration due to status="));
}

TEST(usb_device, control_transfers_reach_the_device_with_their_request_block)
{
    driver_bench bench;
    bench.camera.add_control_handler(
        [](const sim_camera::control_setup& setup, std::span<std::uint8_t> data) -> std::optional<sim_camera::control_reply> {
            if (setup.request != 0x30) {
                return std::nullopt;
            }
            if (setup.device_to_host) {
                for (std::size_t i = 0; i < data.size(); ++i) {
                    data[i] = static_cast<std::uint8_t>(0xA0 + i);
                }
            }
            return sim_camera::control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(data.size()), false};
        });
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    WDFFILEOBJECT file = bench.open(L"");

    const noxkm::control_setup in_setup{1, 1, 0x30, 0x1234, 0x0001};
    std::uint8_t in_data[6] = {};
    kmdf::io_result result = bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &in_setup, sizeof in_setup, in_data, sizeof in_data);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 6u);
    EXPECT_EQ(in_data[5], 0xA5);

    const noxkm::control_setup out_setup{0, 0, 0x30, 7, 9};
    std::uint8_t out_data[3] = {1, 2, 3};
    result = bench.ioctl(file, IOCTL_NOXKM_CONTROL_OUT, &out_setup, sizeof out_setup, out_data, sizeof out_data);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 3u);
    // Without a second buffer there is no data stage.
    result = bench.ioctl(file, IOCTL_NOXKM_CONTROL_OUT, &out_setup, sizeof out_setup, nullptr, 0);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 0u);

    const auto log = bench.camera.control_log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].function, URB_FUNCTION_VENDOR_INTERFACE);
    EXPECT_EQ(log[0].transfer_flags, static_cast<ULONG>(USBD_TRANSFER_DIRECTION_IN)); // short transfers not allowed
    EXPECT_EQ(log[0].setup.value, 0x1234);
    EXPECT_EQ(log[0].setup.index, 1);
    EXPECT_EQ(log[0].setup.length, 6);
    EXPECT_EQ(log[1].function, URB_FUNCTION_CLASS_DEVICE);
    EXPECT_EQ(log[1].transfer_flags, 0u);
    EXPECT_EQ(log[1].out_data, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(log[2].setup.length, 0);

    // A request the device does not know stalls; a bad recipient is refused.
    const noxkm::control_setup unknown{1, 0, 0x99, 0, 0};
    EXPECT_FALSE(NT_SUCCESS(bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &unknown, sizeof unknown, in_data, 2).status));
    const noxkm::control_setup bad_recipient{1, 4, 0x30, 0, 0};
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &bad_recipient, sizeof bad_recipient, in_data, 2).status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bench.camera.control_log().size(), 4u);
    bench.host.close(file);
}

TEST(usb_device, control_transfer_that_never_completes_times_out_and_is_cancelled)
{
    driver_bench bench;
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    bench.camera.controls_never_complete = true;
    WDFFILEOBJECT file = bench.open(L"");
    const noxkm::control_setup setup{1, 0, 0x30, 0, 0};
    std::uint8_t data[4];
    const auto start = std::chrono::steady_clock::now();
    const kmdf::io_result result = bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, data, sizeof data);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, STATUS_IO_TIMEOUT);
    EXPECT_GE(elapsed, std::chrono::milliseconds(950));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
    EXPECT_EQ(bench.camera.held_transfers(), 0u); // cancelled, not left with the device
    bench.host.close(file);
    EXPECT_TRUE(bench.violations_left().empty());
}

TEST(usb_device, device_that_vanishes_mid_request_ends_the_request_and_later_ones)
{
    driver_bench bench;
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    bench.camera.controls_never_complete = true;
    WDFFILEOBJECT file = bench.open(L"");
    const noxkm::control_setup setup{1, 0, 0x30, 0, 0};
    std::uint8_t data[4];
    auto pending = std::async(std::launch::async, [&] {
        return bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, data, sizeof data);
    });
    ASSERT_TRUE(bench.camera.wait_for_held(1));
    bench.camera.remove();
    const kmdf::io_result result = pending.get();
    EXPECT_EQ(result.status, STATUS_NO_SUCH_DEVICE);
    bench.host.surprise_remove(bench.device);
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, data, sizeof data).status,
              STATUS_DEVICE_REMOVED);
    bench.host.close(file);
    EXPECT_TRUE(bench.violations_left().empty());
}

} // namespace
