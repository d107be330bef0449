#pragma once
// The device-information record the active device serves about its camera.

#include <cstddef>
#include <cstdint>

namespace cam {

struct device_information {
    std::uint32_t vendor_id = 0;      // 0
    wchar_t manufacturer[64] = {};    // 4
    wchar_t product[64] = {};         // 132
    std::uint64_t serial_number = 0;  // 264
    std::uint32_t interface_kind = 0; // 272
    std::uint32_t product_id = 0;     // 276
    std::uint32_t reserved = 0;       // 280
    std::uint32_t reserved2 = 0;      // 284
    std::uint32_t firmware_revision = 0; // 288
};
static_assert(offsetof(device_information, manufacturer) == 4);
static_assert(offsetof(device_information, product) == 132);
static_assert(offsetof(device_information, serial_number) == 264);
static_assert(offsetof(device_information, interface_kind) == 272);
static_assert(offsetof(device_information, product_id) == 276);
static_assert(offsetof(device_information, reserved) == 280);
static_assert(offsetof(device_information, firmware_revision) == 288);

// The serial number a camera reports when its text is unreadable or not
// hexadecimal.
inline constexpr std::uint64_t unreadable_serial_number = 0xBEEFBEEF;

} // namespace cam
