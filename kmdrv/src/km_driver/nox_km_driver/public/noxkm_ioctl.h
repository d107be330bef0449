#pragma once
// The driver's contract with user mode: the device-interface class, the pipe
// file names, the I/O control codes and their records. Included by the driver
// and by the service's driver access.

#include <cstddef>
#include <cstdint>

#include <guiddef.h>

namespace noxkm {

// Class of the device interface that the driver registers for every camera.
inline constexpr GUID device_interface_class = {
    0xe3f11b63, 0x2570, 0x4329, {0xaa, 0xd9, 0xee, 0x7e, 0xba, 0x25, 0x5f, 0x20}};

// A pipe file is the interface path followed by this prefix and the endpoint
// address in hexadecimal ("\pipe_81").
inline constexpr wchar_t pipe_name_prefix[] = L"\\pipe_";

inline constexpr std::uint32_t device_type = 0x8001;

constexpr std::uint32_t make_code(std::uint32_t function, std::uint32_t method, std::uint32_t access)
{
    return (device_type << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr std::uint32_t method_buffered = 0;
inline constexpr std::uint32_t method_in_direct = 1;
inline constexpr std::uint32_t method_out_direct = 2;
inline constexpr std::uint32_t access_read = 1;
inline constexpr std::uint32_t access_read_write = 3;

} // namespace noxkm

// Device codes (accepted on any handle of the device).
#define IOCTL_NOXKM_GET_DESCRIPTOR (noxkm::make_code(0x001, noxkm::method_buffered, noxkm::access_read))
#define IOCTL_NOXKM_GET_DRIVER_VERSION (noxkm::make_code(0x009, noxkm::method_buffered, noxkm::access_read))
#define IOCTL_NOXKM_CONTROL_IN (noxkm::make_code(0x003, noxkm::method_out_direct, noxkm::access_read_write))
#define IOCTL_NOXKM_CONTROL_OUT (noxkm::make_code(0x004, noxkm::method_in_direct, noxkm::access_read_write))
#define IOCTL_NOXKM_SELECT_INTERFACE (noxkm::make_code(0x008, noxkm::method_buffered, noxkm::access_read_write))
// Pipe codes (need a pipe handle).
#define IOCTL_NOXKM_PIPE_START (noxkm::make_code(0x005, noxkm::method_buffered, noxkm::access_read_write))
#define IOCTL_NOXKM_PIPE_STOP (noxkm::make_code(0x006, noxkm::method_buffered, noxkm::access_read_write))
#define IOCTL_NOXKM_PIPE_SET_DEPTH (noxkm::make_code(0x007, noxkm::method_buffered, noxkm::access_read_write))

static_assert(IOCTL_NOXKM_GET_DESCRIPTOR == 0x80014004u);
static_assert(IOCTL_NOXKM_GET_DRIVER_VERSION == 0x80014024u);
static_assert(IOCTL_NOXKM_CONTROL_IN == 0x8001C00Eu);
static_assert(IOCTL_NOXKM_CONTROL_OUT == 0x8001C011u);
static_assert(IOCTL_NOXKM_PIPE_START == 0x8001C014u);
static_assert(IOCTL_NOXKM_PIPE_STOP == 0x8001C018u);
static_assert(IOCTL_NOXKM_PIPE_SET_DEPTH == 0x8001C01Cu);
static_assert(IOCTL_NOXKM_SELECT_INTERFACE == 0x8001C020u);

namespace noxkm {

#pragma pack(push, 1)

// Input of IOCTL_NOXKM_GET_DESCRIPTOR.
enum descriptor_kind : std::uint32_t {
    descriptor_device = 0,
    descriptor_configuration = 1,
    descriptor_string = 2,
    descriptor_connection_speed = 3,
};
struct descriptor_request {
    std::uint32_t kind;
    std::uint32_t index;       // string index, below 256
    std::uint32_t language_id; // low 16 bits are sent
};
static_assert(sizeof(descriptor_request) == 12);

// Answer of the connection-speed kind (u64).
inline constexpr std::uint64_t connection_usb3 = 300;
inline constexpr std::uint64_t connection_usb2 = 200;

// Output of IOCTL_NOXKM_GET_DRIVER_VERSION.
struct driver_version {
    std::uint32_t reserved0;
    std::uint64_t version; // major 63-48, minor 47-32, 0, build 15-0
    std::uint32_t reserved1;
};
static_assert(sizeof(driver_version) == 16);
inline constexpr std::uint16_t version_major = 4;
inline constexpr std::uint16_t version_minor = 7;
inline constexpr std::uint16_t version_build = 1524;
inline constexpr std::uint64_t version_value = (std::uint64_t{version_major} << 48) |
                                               (std::uint64_t{version_minor} << 32) | version_build;

// Input of IOCTL_NOXKM_CONTROL_IN and IOCTL_NOXKM_CONTROL_OUT; the data stage
// is the output buffer (IN) or the second buffer (OUT), at most 65535 bytes.
struct control_setup {
    std::uint32_t vendor;   // 0 class request, else vendor request
    std::uint8_t recipient; // 0 device, 1 interface, 2 endpoint, 3 other
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
};
static_assert(sizeof(control_setup) == 10);

// Input of IOCTL_NOXKM_SELECT_INTERFACE.
struct select_interface_request {
    std::uint32_t reserved; // must be 0
    std::uint32_t interface_number;
    std::uint32_t alternate_setting;
};
static_assert(sizeof(select_interface_request) == 12);

// Output of IOCTL_NOXKM_SELECT_INTERFACE.
struct pipe_record {
    std::uint16_t max_packet_size;
    std::uint8_t endpoint_address;
    std::uint8_t interval;
    std::uint8_t pipe_type; // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    std::uint32_t maximum_transfer_size;
};
static_assert(sizeof(pipe_record) == 9);
inline constexpr std::size_t max_pipe_records = 16;
struct interface_info {
    std::uint32_t pipe_count;
    pipe_record pipes[max_pipe_records];
};
static_assert(sizeof(interface_info) == 148);

// Input of IOCTL_NOXKM_PIPE_SET_DEPTH.
struct pipe_depth {
    std::uint32_t transfer_size; // not used by the driver
    std::uint32_t depth;
};
static_assert(sizeof(pipe_depth) == 8);

#pragma pack(pop)

} // namespace noxkm
