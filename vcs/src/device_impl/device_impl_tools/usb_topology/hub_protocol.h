#pragma once
// The hub driver's I/O controls as byte records: the codes, the sizes and
// offsets of the records they fill, requests built from them and checked
// readers of the replies. A reader is given exactly the bytes the hub
// returned and answers nothing when they do not hold what it needs.

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cam::usb_topology {

// GUID_DEVINTERFACE_USB_HUB.
inline constexpr GUID usb_hub_interface_class = {
    0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};

namespace hub_ioctl {
inline constexpr DWORD get_node_information = 0x220408;
inline constexpr DWORD get_node_connection_information = 0x22040C;
inline constexpr DWORD get_descriptor_from_node_connection = 0x220410;
inline constexpr DWORD get_node_connection_driverkey_name = 0x220420;
inline constexpr DWORD get_node_connection_information_ex = 0x220448;
} // namespace hub_ioctl

// Node information: node type (4), the hub descriptor (71), bus-powered flag.
inline constexpr std::size_t node_information_size = 76;
inline constexpr std::size_t node_port_count_offset = 6; // bNumberOfPorts

// Connection information (old and extended record share the layout; the old
// one has a low-speed flag where the extended one has the speed):
// ConnectionIndex u32, device descriptor (18), configuration value, speed,
// is-hub flag, address u16, open pipes u32, ConnectionStatus u32, then pipe
// records of 11 bytes.
inline constexpr std::size_t connection_fixed_size = 35;
inline constexpr std::size_t connection_pipe_records = 30;
inline constexpr std::size_t connection_information_size = connection_fixed_size + connection_pipe_records * 11;
inline constexpr std::size_t connection_descriptor_offset = 4;
inline constexpr std::size_t connection_speed_offset = 23;
inline constexpr std::size_t connection_status_offset = 31;
inline constexpr std::uint32_t device_connected = 1;

// Driver key name: ConnectionIndex u32, ActualLength u32 (bytes of the whole
// record), the name from offset 8.
inline constexpr std::size_t driverkey_name_offset = 8;
inline constexpr std::size_t driverkey_probe_size = 10;
// Longest record accepted: a registry key name is far shorter, and a hub that
// claims more is not believed.
inline constexpr std::uint32_t driverkey_record_limit = 8 + 2 * 1024;

// Descriptor request: ConnectionIndex u32, setup packet (bmRequest, bRequest,
// wValue, wIndex, wLength), the descriptor from offset 12.
inline constexpr std::size_t descriptor_request_header = 12;
inline constexpr std::size_t setup_value_offset = 6;
inline constexpr std::size_t setup_index_offset = 8;
inline constexpr std::size_t setup_length_offset = 10;
inline constexpr std::uint16_t configuration_descriptor_value = 0x0200;
inline constexpr std::uint16_t string_descriptor_value = 0x0300;
inline constexpr std::uint16_t string_request_length = 255;

inline std::uint16_t read_u16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
inline std::uint32_t read_u32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return std::uint32_t{read_u16(bytes, offset)} | (std::uint32_t{read_u16(bytes, offset + 2)} << 16);
}
void write_u16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void write_u32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

// What the walk uses of a connection record.
struct connection_record {
    std::array<std::uint8_t, 18> device_descriptor{};
    std::uint8_t speed = 0;
    std::uint32_t status = 0;

    std::uint8_t manufacturer_index() const { return device_descriptor[14]; }
    std::uint8_t product_index() const { return device_descriptor[15]; }
    std::uint8_t serial_number_index() const { return device_descriptor[16]; }
    std::uint16_t id_vendor() const { return static_cast<std::uint16_t>(device_descriptor[8] | device_descriptor[9] << 8); }
    std::uint16_t id_product() const
    {
        return static_cast<std::uint16_t>(device_descriptor[10] | device_descriptor[11] << 8);
    }
};

// bNumberOfPorts of a node-information reply.
std::optional<std::uint8_t> read_port_count(std::span<const std::uint8_t> reply);
// An extended connection record, or the older one converted (speed 1, full,
// unless it sets the low-speed flag, then 0).
std::optional<connection_record> read_connection(std::span<const std::uint8_t> reply, bool extended);
// ActualLength of a driver-key reply; only lengths that hold more than the
// header and fit the limit.
std::optional<std::uint32_t> read_driverkey_length(std::span<const std::uint8_t> reply);
// The name of a driver-key reply of `length` bytes: up to its first zero
// character, which must lie within the reply.
std::optional<std::wstring> read_driverkey_name(std::span<const std::uint8_t> reply, std::uint32_t length);

// A descriptor request of 12 + `length` bytes.
std::vector<std::uint8_t> descriptor_request(std::uint32_t port, std::uint16_t value, std::uint16_t index,
                                             std::uint16_t length);
// wTotalLength of a configuration reply.
std::optional<std::uint16_t> read_configuration_total(std::span<const std::uint8_t> reply);
// The text of a string-descriptor reply: a descriptor of type 3 whose even
// bLength (at least 2) matches the bytes returned.
std::optional<std::wstring> read_string_descriptor(std::span<const std::uint8_t> reply);

} // namespace cam::usb_topology
