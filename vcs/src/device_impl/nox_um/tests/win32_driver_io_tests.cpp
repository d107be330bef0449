// The shipped Win32 side of the driver seam, on what this machine has: no
// camera driver, so opens fail with the system's error and I/O controls on an
// ordinary file fail instead of hanging.

#include <nox_um/pipe.h>
#include <nox_um/usb_device_handle.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using nox_um::usb_device_handle;

TEST(win32_driver_io, missing_device_path_fails_with_the_system_error)
{
    const std::wstring path = L"\\\\?\\usb#vid_0000&pid_0000#missing#{e3f11b63-2570-4329-aad9-ee7eba255f20}";
    auto file = usb_device_handle::open(path);
    ASSERT_FALSE(file.has_value());
    EXPECT_EQ(file.error().category(), std::system_category());
    EXPECT_NE(file.error().value(), 0);
}

TEST(win32_driver_io, control_on_a_file_that_is_no_driver_answers_an_error_and_opens_no_pipe)
{
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring path = std::wstring(folder) + L"nox_um_seam_" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    {
        HANDLE created = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
        ASSERT_NE(created, INVALID_HANDLE_VALUE);
        CloseHandle(created);
    }
    {
        auto file = usb_device_handle::open(path);
        ASSERT_TRUE(file.has_value()) << file.error().value();
        usb_device_handle device(std::move(file).value(), path);
        EXPECT_TRUE(device.control(IOCTL_NOXKM_GET_DRIVER_VERSION, nullptr, 0, nullptr, 0));
        EXPECT_FALSE(device.get_string_descriptor(2).has_value());
        EXPECT_EQ(nox_um::open_endpoint_pipe(device, 0x81), nullptr);
    }
    DeleteFileW(path.c_str());
}

} // namespace
