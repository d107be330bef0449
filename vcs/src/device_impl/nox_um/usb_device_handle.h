#pragma once
// The open device file of one camera: descriptor requests with their caches,
// alternate-setting selection and the plain I/O-control call that the camera
// classes use for every other driver request.

#include "driver_io.h"

#include <nox_km_driver/public/noxkm_ioctl.h>

#include <boost/outcome.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace nox_um {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

class usb_device_handle {
public:
    // Opens a driver file (the device itself or one of its pipe files) for
    // overlapped, unbuffered reading and writing. Failure: the Win32 error.
    static outcome::std_result<io_handle> open(const std::wstring& path, driver_io& io = win32_driver_io());
    // One I/O control, waited for on its own event: 0 or the Win32 error. On a
    // file bound to a completion port its completion does not reach the port.
    static std::error_code control(driver_io& io, HANDLE file, DWORD code, const void* input, DWORD input_size,
                                   void* output, DWORD output_size, DWORD* returned = nullptr);

    usb_device_handle(io_handle file, std::wstring path);

    std::error_code control(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size) const
    {
        return control(*file_.io(), file_.get(), code, input, input_size, output, output_size);
    }

    // The bytes the driver returned (the first `returned` bytes of a
    // zero-filled buffer of `output_size`); no bytes is error 487.
    outcome::std_result<std::vector<std::uint8_t>> get_descriptor(std::uint32_t kind, std::uint32_t index,
                                                                  std::uint32_t language_id,
                                                                  std::uint32_t output_size) const;
    // 18-byte device descriptor (all zero when the driver sent fewer than 18
    // bytes). Throws std::system_error "Failed to fetch USB device descriptor".
    const std::array<std::uint8_t, 18>& get_device_descriptor();
    // The configuration descriptor set, refilled on every call; null when the
    // driver sent 8 bytes or fewer. Valid until the next call. Throws
    // std::system_error "Failed to fetch USB configuration descriptor".
    const std::uint8_t* get_configuration_descriptor();
    std::size_t configuration_descriptor_size() const { return configuration_.size(); }
    // The text of a string descriptor (index & 0xFF, language id 9).
    outcome::std_result<std::wstring> get_string_descriptor(std::uint32_t index) const;
    // True for a USB 3 connection. Throws std::system_error on failure.
    bool is_usb3_connection() const;
    // Selects an alternate setting of interface 1; the pipes it has. No pipes
    // is ERROR_INVALID_PARAMETER.
    outcome::std_result<std::vector<noxkm::pipe_record>> select_alternate_setting(std::uint32_t alternate) const;
    void close();

    const std::wstring& path() const { return path_; }
    driver_io& io() const { return *file_.io(); }
    HANDLE file() const { return file_.get(); }

private:
    io_handle file_;
    std::wstring path_;
    std::vector<std::uint8_t> configuration_;
    std::array<std::uint8_t, 18> device_descriptor_{};
};

} // namespace nox_um
