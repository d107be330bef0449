#pragma once
// The replies of the device's two private property sets, laid out byte by
// byte (little-endian). Platform-free: the layouts are tested in both trees.
//
// PROPSETID_DRIVER_INFO_REQ id 0 (service information, 144 bytes):
//   u32 9 | u32 0 | u64 file version | "fre" as 64 UTF-16 characters.
// PROPSETID_KYV_CUSTOM_PROP, every reply zero-filled first:
//   100 (288): u32 at 24 the vendor id; at 28 the manufacturer as 8-bit text
//   101 (288): u64 at 24 the serial number; at 32 the product as 8-bit text
//   102 (296): u32 5, 7 and the USB product id at 24, 28, 32; "bla" at 36
//   103 (288): u32 66 at 24

#include <cstddef>
#include <cstdint>
#include <span>

#include "device_impl/camera_base/device_information.h"

namespace camtovra {

inline constexpr std::uint32_t kyv_manufacturer_id = 100;
inline constexpr std::uint32_t kyv_product_id = 101;
inline constexpr std::uint32_t kyv_usb_id = 102;
inline constexpr std::uint32_t kyv_constant_id = 103;

// Bytes the reply of a KYV id needs; 0 for an id the set does not have.
std::uint32_t kyv_reply_size(std::uint32_t id) noexcept;

// Writes the 144-byte service information into `out` (at least 144 bytes).
void write_service_info(std::span<std::uint8_t> out, std::uint64_t file_version) noexcept;

// Writes the reply of KYV id `id` into `out` (at least kyv_reply_size(id)
// bytes, all of which are written).
void write_kyv_reply(std::uint32_t id, const cam::device_information& info, std::uint16_t usb_product_id,
                     std::span<std::uint8_t> out) noexcept;

// A 64-character text field as 8-bit text at `out`: at most 64 characters,
// as many as come before the first zero, each above 0xFF as '?', followed by
// a zero; `out` must hold 65 bytes.
void narrow_text_field(const wchar_t (&field)[64], std::uint8_t* out) noexcept;

} // namespace camtovra
