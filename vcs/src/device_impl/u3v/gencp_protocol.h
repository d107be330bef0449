#pragma once
// The GenCP wire format as the USB3 Vision control channel carries it: the
// vendor requests, the READMEM and WRITEMEM commands, the acknowledge header
// and the mapping of a GenCP status to an HRESULT. No Windows API: HRESULTs
// are plain 32-bit values here.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace u3v_com {

// Vendor requests on the default control pipe (device recipient, value 0,
// index 0).
inline constexpr std::uint8_t request_command = 0x30;        // OUT: command, IN: its acknowledge
inline constexpr std::uint8_t request_max_read_size = 0x23;  // IN: uint32
inline constexpr std::uint8_t request_max_write_size = 0x22; // IN: uint32

inline constexpr std::uint32_t gencp_prefix = 0x43563355; // "U3VC"
inline constexpr std::uint16_t command_readmem = 0x0800;
inline constexpr std::uint16_t ack_readmem = 0x0801;
inline constexpr std::uint16_t command_writemem = 0x0802;
inline constexpr std::uint16_t ack_writemem = 0x0803;

inline constexpr std::size_t prefix_size = 12;           // prefix of commands and acknowledges
inline constexpr std::size_t readmem_command_size = 24;  // prefix, address, reserved, length
inline constexpr std::size_t writemem_header_size = 20;  // prefix, address; the data follows
inline constexpr std::size_t writemem_ack_size = 32;

// The data stage of one control transfer holds at most this many bytes, so
// no command or acknowledge may be longer.
inline constexpr std::uint32_t max_transfer_size = 0xFFFF;

// USB3 Vision bootstrap registers.
inline constexpr std::uint64_t reg_user_defined_name = 0x184; // 64 bytes
inline constexpr std::uint64_t reg_device_capability = 0x1C4;
inline constexpr std::uint64_t reg_manifest_table_address = 0x1D0;
inline constexpr std::size_t user_defined_name_size = 64;

// HRESULTs of protocol failures.
namespace hr {
inline constexpr std::int32_t ok = 0;
inline constexpr std::int32_t not_implemented = static_cast<std::int32_t>(0x80004001);  // E_NOTIMPL
inline constexpr std::int32_t fail = static_cast<std::int32_t>(0x80004005);             // E_FAIL
inline constexpr std::int32_t pending = static_cast<std::int32_t>(0x8000000A);          // E_PENDING
inline constexpr std::int32_t access_denied = static_cast<std::int32_t>(0x80070005);    // E_ACCESSDENIED
inline constexpr std::int32_t not_ready = static_cast<std::int32_t>(0x80070015);        // port not opened
inline constexpr std::int32_t invalid_arg = static_cast<std::int32_t>(0x80070057);      // E_INVALIDARG
inline constexpr std::int32_t insufficient_buffer = static_cast<std::int32_t>(0x8007007A);
} // namespace hr

// GenCP status of an acknowledge to an HRESULT: 0 for success, the standard's
// error statuses to their nearest HRESULT, everything else E_FAIL.
std::int32_t gencp_status_to_hresult(std::uint16_t status) noexcept;

template <typename T>
T load_le(const std::uint8_t* at) noexcept
{
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) {
        value = static_cast<T>((value << 8) | at[i]);
    }
    return value;
}

template <typename T>
void store_le(std::uint8_t* at, T value) noexcept
{
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The 12-byte prefix of a command.
void build_command_prefix(std::uint8_t* at, std::uint16_t command_id, std::uint16_t scd_length,
                          std::uint16_t request_id) noexcept;
// A complete READMEM command.
void build_readmem(std::span<std::uint8_t, readmem_command_size> out, std::uint16_t request_id,
                   std::uint64_t address, std::uint16_t length) noexcept;
// The 20-byte header of a WRITEMEM command that carries `length` data bytes.
void build_writemem_header(std::span<std::uint8_t, writemem_header_size> out, std::uint16_t request_id,
                           std::uint64_t address, std::uint16_t length) noexcept;

// The header of an acknowledge as received (its prefix is not examined).
struct ack_header {
    std::uint16_t status = 0;
    std::uint16_t command_id = 0;
    std::uint16_t length = 0; // bytes of acknowledge data after the header
    std::uint16_t request_id = 0;
};
// `ack` holds at least prefix_size bytes.
ack_header parse_ack_header(std::span<const std::uint8_t> ack) noexcept;

// The acknowledge answers the command that was sent: status bit 15 clear and
// both ids as expected.
inline bool ack_matches(const ack_header& ack, std::uint16_t command_id, std::uint16_t request_id) noexcept
{
    return (ack.status & 0x8000) == 0 && ack.command_id == command_id && ack.request_id == request_id;
}

// The acknowledge carries the id of a command sent before `request_id`: ids
// run 1..65535 and wrap to 1, and any of the 32767 ids before `request_id`
// counts as earlier (0 is never sent).
bool request_id_is_earlier(std::uint16_t ack_id, std::uint16_t request_id) noexcept;

} // namespace u3v_com
