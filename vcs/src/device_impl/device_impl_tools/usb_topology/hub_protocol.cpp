#include "hub_protocol.h"

#include <algorithm>

namespace cam::usb_topology {

void write_u16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void write_u32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    write_u16(bytes, offset, static_cast<std::uint16_t>(value));
    write_u16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::optional<std::uint8_t> read_port_count(std::span<const std::uint8_t> reply)
{
    if (reply.size() <= node_port_count_offset) {
        return std::nullopt;
    }
    return reply[node_port_count_offset];
}

std::optional<connection_record> read_connection(std::span<const std::uint8_t> reply, bool extended)
{
    if (reply.size() < connection_fixed_size) {
        return std::nullopt;
    }
    connection_record record;
    std::copy_n(reply.begin() + connection_descriptor_offset, record.device_descriptor.size(),
                record.device_descriptor.begin());
    const std::uint8_t speed = reply[connection_speed_offset];
    record.speed = extended ? speed : (speed == 0 ? 1 : 0);
    record.status = read_u32(reply, connection_status_offset);
    return record;
}

std::optional<std::uint32_t> read_driverkey_length(std::span<const std::uint8_t> reply)
{
    if (reply.size() < driverkey_name_offset) {
        return std::nullopt;
    }
    const std::uint32_t length = read_u32(reply, 4);
    if (length <= driverkey_probe_size - 1 || length > driverkey_record_limit) {
        return std::nullopt;
    }
    return length;
}

std::optional<std::wstring> read_driverkey_name(std::span<const std::uint8_t> reply, std::uint32_t length)
{
    if (reply.size() < driverkey_name_offset || read_u32(reply, 4) != length) {
        return std::nullopt;
    }
    std::wstring name;
    for (std::size_t at = driverkey_name_offset; at + 1 < reply.size(); at += 2) {
        const wchar_t c = static_cast<wchar_t>(read_u16(reply, at));
        if (c == L'\0') {
            return name;
        }
        name.push_back(c);
    }
    return std::nullopt; // no terminator inside what the hub returned
}

std::vector<std::uint8_t> descriptor_request(std::uint32_t port, std::uint16_t value, std::uint16_t index,
                                             std::uint16_t length)
{
    std::vector<std::uint8_t> request(descriptor_request_header + length, 0);
    write_u32(request, 0, port);
    request[4] = 0x80; // device to host, standard, device
    request[5] = 6;    // GET_DESCRIPTOR
    write_u16(request, setup_value_offset, value);
    write_u16(request, setup_index_offset, index);
    write_u16(request, setup_length_offset, length);
    return request;
}

std::optional<std::uint16_t> read_configuration_total(std::span<const std::uint8_t> reply)
{
    if (reply.size() < descriptor_request_header + 4) {
        return std::nullopt;
    }
    return read_u16(reply, descriptor_request_header + 2);
}

std::optional<std::wstring> read_string_descriptor(std::span<const std::uint8_t> reply)
{
    if (reply.size() < descriptor_request_header + 2) {
        return std::nullopt;
    }
    const std::size_t length = reply[descriptor_request_header];
    if (length < 2 || length % 2 != 0 || reply.size() != descriptor_request_header + length ||
        reply[descriptor_request_header + 1] != 3) {
        return std::nullopt;
    }
    std::wstring text;
    for (std::size_t at = descriptor_request_header + 2; at < reply.size(); at += 2) {
        text.push_back(static_cast<wchar_t>(read_u16(reply, at)));
    }
    return text;
}

} // namespace cam::usb_topology
