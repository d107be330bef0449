#pragma once
// Helpers shared by the simulated camera's source files.

#include "sim_camera.h"

namespace sim_camera::detail {

inline PURB urb_of(PIRP irp) { return static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1); }

inline camera* camera_of(PDEVICE_OBJECT device) { return static_cast<camera*>(device->DeviceExtension); }

inline std::uint8_t* transfer_buffer(PMDL mdl, PVOID buffer)
{
    return static_cast<std::uint8_t*>(mdl != nullptr ? MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority) : buffer);
}

inline bool is_control_function(USHORT function)
{
    switch (function) {
    case URB_FUNCTION_VENDOR_DEVICE:
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_VENDOR_OTHER:
    case URB_FUNCTION_CLASS_DEVICE:
    case URB_FUNCTION_CLASS_INTERFACE:
    case URB_FUNCTION_CLASS_ENDPOINT:
    case URB_FUNCTION_CLASS_OTHER:
        return true;
    default:
        return false;
    }
}

inline std::uint32_t default_payload(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint64_t sequence)
{
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(sequence + i);
    }
    return static_cast<std::uint32_t>(buffer.size());
}

// Walks the descriptor set for the interface descriptor (number, alternate)
// and its endpoints.
struct found_interface {
    const std::uint8_t* descriptor = nullptr;
    std::vector<const std::uint8_t*> endpoints;
};

inline found_interface find_interface(const bytes& set, std::uint8_t number, std::uint8_t alternate)
{
    found_interface result;
    std::size_t at = 0;
    bool inside = false;
    while (at + 2 <= set.size()) {
        const std::uint8_t length = set[at];
        if (length < 2 || at + length > set.size()) {
            break;
        }
        const std::uint8_t type = set[at + 1];
        if (type == USB_INTERFACE_DESCRIPTOR_TYPE && length >= 9) {
            if (inside) {
                break;
            }
            inside = set[at + 2] == number && set[at + 3] == alternate;
            if (inside) {
                result.descriptor = &set[at];
            }
        } else if (inside && type == USB_ENDPOINT_DESCRIPTOR_TYPE && length >= 7) {
            result.endpoints.push_back(&set[at]);
        }
        at += length;
    }
    return result;
}


} // namespace sim_camera::detail
