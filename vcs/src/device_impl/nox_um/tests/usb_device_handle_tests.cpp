// The device file through the driver over the simulated camera, and through a
// scripted driver for answers a sound driver never gives.

#include "fake_driver_io.h"
#include "sim_driver_io.h"

#include <nox_um/usb_device_handle.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using nox_um::usb_device_handle;
using nox_um_test::fake_driver_io;
using nox_um_test::sim_driver_io;

usb_device_handle open_device(nox_um::driver_io& io, const std::wstring& path)
{
    auto file = usb_device_handle::open(path, io);
    EXPECT_TRUE(file.has_value());
    return usb_device_handle(std::move(file).value(), path);
}

class device_handle_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(io.start(), STATUS_SUCCESS); }
    void TearDown() override
    {
        const auto found = kmdf::violations();
        EXPECT_TRUE(found.empty()) << found.front();
    }
    sim_driver_io io;
};

TEST_F(device_handle_test, path_that_does_not_exist_gives_the_open_error)
{
    auto file = usb_device_handle::open(L"\\\\?\\usb#vid_0000&pid_0000#none#{e3f11b63-2570-4329-aad9-ee7eba255f20}", io);
    ASSERT_FALSE(file.has_value());
    EXPECT_EQ(file.error().category(), std::system_category());
    EXPECT_NE(file.error().value(), 0);
    auto pipe = usb_device_handle::open(io.device_path() + L"\\pipe_85", io);
    ASSERT_FALSE(pipe.has_value());
    EXPECT_NE(pipe.error().value(), 0); // the driver's "no such device"
}

TEST_F(device_handle_test, descriptors_come_from_the_device_and_refill_the_cache)
{
    usb_device_handle device = open_device(io, io.device_path());
    const auto& descriptor = device.get_device_descriptor();
    EXPECT_EQ(0, memcmp(descriptor.data(), io.camera.device_descriptor_bytes.data(), 18));
    const std::uint8_t* first = device.get_configuration_descriptor();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(device.configuration_descriptor_size(), io.camera.configuration_bytes.size());
    EXPECT_EQ(0, memcmp(first, io.camera.configuration_bytes.data(), device.configuration_descriptor_size()));
    const std::uint8_t* second = device.get_configuration_descriptor();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(0, memcmp(second, io.camera.configuration_bytes.data(), device.configuration_descriptor_size()));

    auto product = device.get_string_descriptor(2);
    ASSERT_TRUE(product.has_value());
    EXPECT_EQ(product.value(), L"CamTovra Sim");
    EXPECT_FALSE(device.get_string_descriptor(9).has_value()); // the device has no such string
    EXPECT_TRUE(device.is_usb3_connection());
}

TEST(device_handle, usb2_connection_is_not_usb3)
{
    sim_driver_io io;
    io.camera.super_speed = false;
    io.camera.supported_usb_version = 0x200;
    ASSERT_EQ(io.start(), STATUS_SUCCESS);
    usb_device_handle device = open_device(io, io.device_path());
    EXPECT_FALSE(device.is_usb3_connection());
}

TEST(device_handle, alternate_setting_without_pipes_is_invalid_parameter)
{
    sim_driver_io io;
    auto spec = sim_camera::uvc_camera_spec();
    sim_camera::alternate_spec empty = spec.interfaces[1].alternates[0];
    empty.alternate = 1;
    empty.endpoints.clear();
    spec.interfaces[1].alternates.push_back(empty);
    io.camera.configuration_bytes = sim_camera::build_configuration(spec);
    ASSERT_EQ(io.start(), STATUS_SUCCESS);
    usb_device_handle device = open_device(io, io.device_path());
    auto none = device.select_alternate_setting(1);
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(none.error().value(), ERROR_INVALID_PARAMETER);
    auto pipes = device.select_alternate_setting(0);
    ASSERT_TRUE(pipes.has_value());
    ASSERT_EQ(pipes.value().size(), 1u);
    EXPECT_EQ(pipes.value()[0].endpoint_address, 0x81);
    EXPECT_FALSE(device.select_alternate_setting(7).has_value());
}

TEST(device_handle, removed_device_makes_requests_fail)
{
    sim_driver_io io;
    ASSERT_EQ(io.start(), STATUS_SUCCESS);
    usb_device_handle device = open_device(io, io.device_path());
    io.remove_device();
    EXPECT_THROW(device.get_device_descriptor(), std::system_error);
    EXPECT_FALSE(device.get_string_descriptor(2).has_value());
    try {
        device.get_configuration_descriptor();
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("Failed to fetch USB configuration descriptor"), std::string::npos);
    }
}

TEST(device_handle, each_control_waits_on_its_own_event_that_keeps_the_port_out)
{
    fake_driver_io io;
    usb_device_handle device = open_device(io, L"\\\\?\\fake");
    EXPECT_FALSE(device.control(0x1234, nullptr, 0, nullptr, 0));
    EXPECT_FALSE(device.control(0x1234, nullptr, 0, nullptr, 0));
    ASSERT_EQ(io.calls.size(), 2u);
    for (const auto& call : io.calls) {
        EXPECT_NE(call.event, nullptr);
        EXPECT_EQ(reinterpret_cast<ULONG_PTR>(call.event) & 1, 1u);
    }
}

TEST(device_handle, short_and_oversized_driver_answers_are_bounded)
{
    fake_driver_io io;
    usb_device_handle device = open_device(io, L"\\\\?\\fake");
    // Short answers: no configuration, an all-zero device descriptor, no speed.
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) {
        return fake_driver_io::answer{0, 8, std::vector<std::uint8_t>(8, 0x11)};
    };
    EXPECT_EQ(device.get_configuration_descriptor(), nullptr);
    const auto& descriptor = device.get_device_descriptor();
    EXPECT_TRUE(std::all_of(descriptor.begin(), descriptor.end(), [](std::uint8_t b) { return b == 0; }));
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) { return fake_driver_io::answer{0, 4, {44, 1, 0, 0}}; };
    EXPECT_FALSE(device.is_usb3_connection());
    // Success with no bytes is an error of its own.
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) { return fake_driver_io::answer{}; };
    auto empty = device.get_descriptor(noxkm::descriptor_device, 0, 0, 64);
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().value(), ERROR_INVALID_ADDRESS);
    // A driver that claims more than the buffer holds is not believed.
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) {
        return fake_driver_io::answer{0, 100000, std::vector<std::uint8_t>(300, 0x41)};
    };
    auto text = device.get_string_descriptor(300);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text.value().size(), 127u);
    noxkm::descriptor_request sent;
    memcpy(&sent, io.calls.back().input.data(), sizeof sent);
    EXPECT_EQ(sent.index, 44u); // 300 & 0xFF
    EXPECT_EQ(sent.language_id, 9u);
    EXPECT_EQ(io.calls.back().output_size, 254u);
    // A pipe count past the record's room reports the room only.
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) {
        std::vector<std::uint8_t> record(148, 0);
        record[0] = 200;
        return fake_driver_io::answer{0, 148, record};
    };
    auto pipes = device.select_alternate_setting(1);
    ASSERT_TRUE(pipes.has_value());
    EXPECT_EQ(pipes.value().size(), 16u);
    // A failing driver: the Win32 error, or the exception with its text.
    io.on_ioctl = [](const fake_driver_io::ioctl_call&) { return fake_driver_io::answer{ERROR_GEN_FAILURE, 0, {}}; };
    EXPECT_EQ(device.select_alternate_setting(1).error().value(), ERROR_GEN_FAILURE);
    EXPECT_THROW(device.is_usb3_connection(), std::system_error);
}

} // namespace
