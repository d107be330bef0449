#include "hub_query.h"

#include "device_nodes.h"
#include "hub_protocol.h"

#include <optional>
#include <span>
#include <vector>

namespace cam::usb_topology {
namespace {

// One I/O control; the bytes the hub returned (never more than the buffer),
// or nothing when it failed.
std::optional<std::span<const std::uint8_t>> control(topology_platform& platform, HANDLE hub, DWORD code,
                                                     std::vector<std::uint8_t>& buffer)
{
    DWORD returned = 0;
    const DWORD size = static_cast<DWORD>(buffer.size());
    if (!platform.device_io_control(hub, code, buffer.data(), size, buffer.data(), size, &returned)) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(buffer.data(), std::min<std::size_t>(returned, buffer.size()));
}

std::optional<connection_record> query_connection(topology_platform& platform, HANDLE hub, std::uint32_t port)
{
    for (const bool extended : {true, false}) {
        std::vector<std::uint8_t> buffer(connection_information_size, 0);
        write_u32(buffer, 0, port);
        const DWORD code = extended ? hub_ioctl::get_node_connection_information_ex
                                    : hub_ioctl::get_node_connection_information;
        if (const auto reply = control(platform, hub, code, buffer)) {
            // A hub that answers the query with too short a record has no
            // second chance: the older query would come from the same driver.
            return read_connection(*reply, extended);
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> query_driver_key(topology_platform& platform, HANDLE hub, std::uint32_t port)
{
    std::vector<std::uint8_t> probe(driverkey_probe_size, 0);
    write_u32(probe, 0, port);
    const auto first = control(platform, hub, hub_ioctl::get_node_connection_driverkey_name, probe);
    const auto length = first ? read_driverkey_length(*first) : std::nullopt;
    if (!length) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(*length, 0);
    write_u32(buffer, 0, port);
    const auto second = control(platform, hub, hub_ioctl::get_node_connection_driverkey_name, buffer);
    return second ? read_driverkey_name(*second, *length) : std::nullopt;
}

// The port must hand out its whole configuration descriptor set before its
// strings are read.
bool delivers_configuration(topology_platform& platform, HANDLE hub, std::uint32_t port)
{
    auto head = descriptor_request(port, configuration_descriptor_value, 0, 9);
    const auto first = control(platform, hub, hub_ioctl::get_descriptor_from_node_connection, head);
    const auto total = first ? read_configuration_total(*first) : std::nullopt;
    if (!total || *total <= 8) {
        return false;
    }
    auto whole = descriptor_request(port, configuration_descriptor_value, 0, *total);
    const auto second = control(platform, hub, hub_ioctl::get_descriptor_from_node_connection, whole);
    return second && second->size() == descriptor_request_header + *total &&
           read_configuration_total(*second) == total;
}

std::optional<std::wstring> query_string(topology_platform& platform, HANDLE hub, std::uint32_t port,
                                         std::uint8_t index, std::uint16_t language)
{
    auto request = descriptor_request(port, static_cast<std::uint16_t>(string_descriptor_value | index), language,
                                      string_request_length);
    const auto reply = control(platform, hub, hub_ioctl::get_descriptor_from_node_connection, request);
    return reply ? read_string_descriptor(*reply) : std::nullopt;
}

const std::wstring* first_of(const std::vector<string_entry>& strings, std::uint8_t index)
{
    for (const string_entry& entry : strings) {
        if (entry.index == index) {
            return &entry.text;
        }
    }
    return nullptr;
}

port_result read_port_strings(topology_platform& platform, HANDLE hub, std::uint32_t port,
                              const connection_record& connection)
{
    port_result result;
    if (!delivers_configuration(platform, hub, port)) {
        return result;
    }
    std::vector<string_entry> strings;
    const auto languages = query_string(platform, hub, port, 0, 0);
    result.complete = languages.has_value();
    if (languages) {
        for (const std::uint8_t index : {connection.manufacturer_index(), connection.product_index(),
                                         connection.serial_number_index()}) {
            if (index == 0) {
                continue;
            }
            for (const wchar_t language : *languages) {
                const auto language_id = static_cast<std::uint16_t>(language);
                if (auto text = query_string(platform, hub, port, index, language_id)) {
                    strings.push_back({std::move(*text), index, language_id});
                } else {
                    result.complete = false;
                }
            }
        }
    }
    const auto text_of = [&](std::uint8_t index) {
        const std::wstring* text = first_of(strings, index);
        return text != nullptr ? *text : std::wstring();
    };
    result.manufacturer = text_of(connection.manufacturer_index());
    result.product = text_of(connection.product_index());
    result.serial_number = text_of(connection.serial_number_index());
    result.id_vendor = connection.id_vendor();
    result.id_product = connection.id_product();
    return result;
}

} // namespace

port_result query_hub(topology_platform& platform, const std::wstring& hub_path, const std::wstring& instance_id,
                      driver_key_index& nodes)
{
    const std::wstring path = hub_path.starts_with(L"\\") ? hub_path : L"\\\\.\\" + hub_path;
    platform_file hub(platform,
                      platform.create_file(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING, 0));
    if (!hub.valid()) {
        return {};
    }
    std::vector<std::uint8_t> node_information(node_information_size, 0);
    const auto node_reply = control(platform, hub.get(), hub_ioctl::get_node_information, node_information);
    const auto ports = node_reply ? read_port_count(*node_reply) : std::nullopt;
    if (!ports) {
        return {};
    }
    for (std::uint32_t port = 1; port <= *ports; ++port) {
        const auto connection = query_connection(platform, hub.get(), port);
        if (!connection || connection->status != device_connected) {
            continue;
        }
        const auto driver_key = query_driver_key(platform, hub.get(), port);
        const auto node = driver_key ? nodes.find(*driver_key) : std::nullopt;
        const auto device_id = node ? node_device_id(platform, *node) : std::nullopt;
        if (device_id && *device_id == instance_id) {
            return read_port_strings(platform, hub.get(), port, *connection);
        }
    }
    return {};
}

} // namespace cam::usb_topology
