#pragma once
// Descriptor sets of the simulated camera: a builder for configuration
// descriptor sets and the default set of a USB 3 UVC camera (interface
// association, VideoControl with camera terminal, processing unit, the vendor
// extension unit and output terminal; VideoStreaming with a bulk IN endpoint,
// its SuperSpeed companion, a format and its frames).

#include <cstdint>
#include <string_view>
#include <vector>

namespace sim_camera {

using bytes = std::vector<std::uint8_t>;

struct endpoint_spec {
    std::uint8_t address = 0x81;
    std::uint8_t attributes = 2; // 2 bulk, 3 interrupt
    std::uint16_t max_packet = 1024;
    std::uint8_t interval = 0;
    bool companion = true;       // SuperSpeed endpoint companion follows
    bytes class_specific;        // descriptors that follow the endpoint
};

struct alternate_spec {
    std::uint8_t alternate = 0;
    std::uint8_t interface_class = 0x0E;
    std::uint8_t interface_subclass = 0x02;
    std::uint8_t interface_protocol = 0;
    bytes class_specific;        // descriptors between the interface and its endpoints
    std::vector<endpoint_spec> endpoints;
};

struct interface_spec {
    std::uint8_t number = 0;
    std::vector<alternate_spec> alternates;
};

struct configuration_spec {
    bytes before_interfaces; // e.g. the interface association
    std::vector<interface_spec> interfaces;
    // Vendor-specific descriptors appended until the set has this many bytes.
    std::size_t pad_to = 0;
};

// Serialises the set; wTotalLength and bNumInterfaces are filled in.
bytes build_configuration(const configuration_spec& spec);

// The camera's configuration as a description, so that tests can add alternate
// settings or endpoints before building it. Interface 0 is VideoControl with
// interrupt endpoint 0x83; interface 1 is VideoStreaming with bulk IN 0x81 in
// alternate setting 0. Its one format is 8 bits per pixel, "Y800" unless
// another FOURCC is given (its GUID's first four bytes). The extension unit
// (id 3) announces every control of its bControlSize bytes; 0 leaves the unit
// out.
configuration_spec uvc_camera_spec(std::string_view fourcc = "Y800", std::uint8_t xu_control_size = 3);
bytes uvc_camera_configuration(std::string_view fourcc = "Y800");

// 18-byte device descriptor: USB 3.2, miscellaneous class with interface
// association, strings 1 (manufacturer), 2 (product), 3 (serial number).
bytes device_descriptor(std::uint16_t bcd_usb = 0x0320);

// String descriptor of a text (bLength = 2 + 2 * characters).
bytes string_descriptor(std::u16string_view text);

// The vendor extension unit's GUID as the descriptor carries it.
extern const std::uint8_t vendor_extension_unit_guid[16];

} // namespace sim_camera
