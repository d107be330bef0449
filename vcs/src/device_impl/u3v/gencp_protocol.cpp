#include "device_impl/u3v/gencp_protocol.h"

namespace u3v_com {

std::int32_t gencp_status_to_hresult(std::uint16_t status) noexcept
{
    switch (status) {
    case 0x0000:
        return hr::ok;
    case 0x8001:
        return hr::not_implemented;
    case 0x8002: // invalid parameter
    case 0x8003: // invalid address
    case 0x8005: // bad alignment
    case 0x800E: // invalid header
    case 0x800F: // wrong configuration
        return hr::invalid_arg;
    case 0x8004: // write protect
    case 0x8006: // access denied
    case 0x800B: // message timeout
        return hr::access_denied;
    case 0x8007: // busy
        return hr::pending;
    default:
        return hr::fail;
    }
}

void build_command_prefix(std::uint8_t* at, std::uint16_t command_id, std::uint16_t scd_length,
                          std::uint16_t request_id) noexcept
{
    store_le<std::uint32_t>(at, gencp_prefix);
    store_le<std::uint16_t>(at + 4, 0); // flags: no acknowledge-request bit
    store_le<std::uint16_t>(at + 6, command_id);
    store_le<std::uint16_t>(at + 8, scd_length);
    store_le<std::uint16_t>(at + 10, request_id);
}

void build_readmem(std::span<std::uint8_t, readmem_command_size> out, std::uint16_t request_id,
                   std::uint64_t address, std::uint16_t length) noexcept
{
    build_command_prefix(out.data(), command_readmem, 12, request_id);
    store_le<std::uint64_t>(out.data() + 12, address);
    store_le<std::uint16_t>(out.data() + 20, 0);
    store_le<std::uint16_t>(out.data() + 22, length);
}

void build_writemem_header(std::span<std::uint8_t, writemem_header_size> out, std::uint16_t request_id,
                           std::uint64_t address, std::uint16_t length) noexcept
{
    build_command_prefix(out.data(), command_writemem, static_cast<std::uint16_t>(length + 8), request_id);
    store_le<std::uint64_t>(out.data() + 12, address);
}

bool request_id_is_earlier(std::uint16_t ack_id, std::uint16_t request_id) noexcept
{
    if (ack_id == 0 || request_id == 0) {
        return false;
    }
    constexpr unsigned ids = 65535;
    const unsigned behind = (unsigned{request_id} - unsigned{ack_id} + ids) % ids;
    return behind != 0 && behind <= ids / 2;
}

ack_header parse_ack_header(std::span<const std::uint8_t> ack) noexcept
{
    ack_header header;
    if (ack.size() < prefix_size) {
        return header;
    }
    header.status = load_le<std::uint16_t>(ack.data() + 4);
    header.command_id = load_le<std::uint16_t>(ack.data() + 6);
    header.length = load_le<std::uint16_t>(ack.data() + 8);
    header.request_id = load_le<std::uint16_t>(ack.data() + 10);
    return header;
}

} // namespace u3v_com
