#pragma once
// UVC class requests through the driver: GET_x and SET_CUR on a unit's
// control selector, addressed to an interface.

#include <cstdint>
#include <system_error>

#include <nox_um/usb_device_handle.h>

namespace cam::uvc_cam {

namespace uvc_req {
inline constexpr std::uint8_t set_cur = 0x01;
inline constexpr std::uint8_t get_cur = 0x81;
inline constexpr std::uint8_t get_min = 0x82;
inline constexpr std::uint8_t get_max = 0x83;
inline constexpr std::uint8_t get_res = 0x84;
inline constexpr std::uint8_t get_len = 0x85;
inline constexpr std::uint8_t get_info = 0x86;
inline constexpr std::uint8_t get_def = 0x87;
} // namespace uvc_req

// The driver's setup record of a class request to an interface: value =
// selector << 8, index = unit id << 8 | interface.
[[nodiscard]] noxkm::control_setup uvc_class_setup(std::uint8_t request, std::uint8_t unit_id,
                                                   std::uint8_t interface_number, std::uint8_t selector) noexcept;

// Sends one request. SET_CUR sends `length` bytes of `buffer` and reports 0
// bytes transferred; every other code fills `length` bytes of `buffer` and
// reports `length`. The driver's error is returned unchanged.
std::error_code uvc_request(const nox_um::usb_device_handle& device, std::uint8_t request, std::uint8_t unit_id,
                            std::uint8_t interface_number, std::uint8_t selector, std::uint16_t length, void* buffer,
                            std::uint32_t* transferred = nullptr);

} // namespace cam::uvc_cam
