// The hub side of the device tree: hub files and the five I/O controls the
// walk sends, answered from the descriptors of the device on each port.

#include "device_tree.h"

#include <usb_topology/hub_protocol.h>

#include <algorithm>
#include <cstring>

namespace usb_device_tree {
namespace {

using namespace cam::usb_topology;

constexpr std::size_t request_log_limit = 4096;

hub_reply failure(DWORD error) { return {false, error, {}}; }

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

} // namespace

HANDLE device_tree::create_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    std::lock_guard guard(lock_);
    const std::wstring wanted(path);
    for (const auto& [id, entry] : nodes_) {
        if (!entry.hub) {
            continue;
        }
        const std::wstring& listed = entry.hub->interface_path;
        if (same_path(wanted, listed) || same_path(wanted, L"\\\\.\\" + listed)) {
            const auto file = reinterpret_cast<HANDLE>(next_handle_ += 4);
            files_.emplace(file, id);
            return file;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL device_tree::close_handle(HANDLE file)
{
    std::lock_guard guard(lock_);
    if (files_.erase(file) != 1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL device_tree::device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output,
                                    DWORD output_size, DWORD* returned)
{
    std::lock_guard guard(lock_);
    *returned = 0;
    const auto found = files_.find(file);
    if (found == files_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    hub_request request{found->second, code};
    const node* hub = lookup(found->second);
    // Input and output may be one buffer: take the request before answering.
    const auto* in = static_cast<const std::uint8_t*>(input);
    const bytes request_bytes = in == nullptr ? bytes{} : bytes(in, in + input_size);
    hub_reply reply = hub == nullptr ? failure(ERROR_DEVICE_NOT_CONNECTED)
                                     : answer(*hub, code, request_bytes, output_size, request);
    if (requests_.size() == request_log_limit) {
        // A long-running process keeps the latest requests only.
        requests_.erase(requests_.begin(), requests_.begin() + request_log_limit / 2);
    }
    requests_.push_back(request);
    if (filter_) {
        filter_(request, reply);
    }
    if (refusal_ && refusal_(request)) {
        reply = failure(refusal_error_);
        refusal_ = nullptr;
    }
    if (!reply.succeeded) {
        SetLastError(reply.error);
        return FALSE;
    }
    const std::size_t count = std::min<std::size_t>(reply.data.size(), output == nullptr ? 0 : output_size);
    std::copy_n(reply.data.begin(), count, static_cast<std::uint8_t*>(output));
    *returned = static_cast<DWORD>(count);
    return TRUE;
}

hub_reply device_tree::answer(const node& hub, DWORD code, const bytes& input, DWORD output_size,
                              hub_request& request) const
{
    if (code == hub_ioctl::get_node_information) {
        if (output_size < node_information_size) {
            return failure(ERROR_INSUFFICIENT_BUFFER);
        }
        bytes data(node_information_size, 0);
        data[4] = 9;    // bDescriptorLength
        data[5] = 0x2A; // SuperSpeed hub descriptor
        data[node_port_count_offset] = hub.hub->ports;
        return {true, 0, std::move(data)};
    }
    if (input.size() < 4) {
        return failure(ERROR_INVALID_PARAMETER);
    }
    request.port = read_u32(input, 0);
    if (request.port == 0 || request.port > hub.hub->ports) {
        return failure(ERROR_INVALID_PARAMETER);
    }
    const auto plugged = hub.ports.find(static_cast<std::uint8_t>(request.port));
    const node* device = plugged == hub.ports.end() ? nullptr : lookup(plugged->second);

    if (code == hub_ioctl::get_node_connection_information_ex || code == hub_ioctl::get_node_connection_information) {
        const bool extended = code == hub_ioctl::get_node_connection_information_ex;
        if (extended && !hub.hub->extended_query) {
            return failure(ERROR_INVALID_FUNCTION);
        }
        if (output_size < connection_fixed_size) {
            return failure(ERROR_INSUFFICIENT_BUFFER);
        }
        bytes data(connection_fixed_size, 0);
        write_u32(data, 0, request.port);
        if (device != nullptr) {
            const bytes& descriptor = device->usb->device_descriptor;
            std::copy_n(descriptor.begin(), std::min<std::size_t>(descriptor.size(), 18),
                        data.begin() + connection_descriptor_offset);
            data[22] = 1;
            const bool usb3 = descriptor.size() >= 4 && read_u16(descriptor, 2) >= 0x0300;
            data[connection_speed_offset] = extended ? (usb3 ? 3 : 2) : 0;
            data[24] = device->hub ? 1 : 0;
            write_u16(data, 25, static_cast<std::uint16_t>(request.port));
            write_u32(data, connection_status_offset, device_connected);
        }
        return {true, 0, std::move(data)};
    }
    if (device == nullptr) {
        return failure(ERROR_DEVICE_NOT_CONNECTED);
    }

    if (code == hub_ioctl::get_node_connection_driverkey_name) {
        if (output_size < driverkey_probe_size) {
            return failure(ERROR_INSUFFICIENT_BUFFER);
        }
        const std::uint32_t length = static_cast<std::uint32_t>(8 + (device->driver_key.size() + 1) * 2);
        bytes data(output_size < length ? driverkey_probe_size : length, 0);
        write_u32(data, 0, request.port);
        write_u32(data, 4, length);
        if (output_size >= length) {
            for (std::size_t at = 0; at < device->driver_key.size(); ++at) {
                write_u16(data, driverkey_name_offset + at * 2, static_cast<std::uint16_t>(device->driver_key[at]));
            }
        }
        return {true, 0, std::move(data)};
    }

    if (code == hub_ioctl::get_descriptor_from_node_connection) {
        if (input.size() < descriptor_request_header || output_size < descriptor_request_header) {
            return failure(ERROR_INVALID_PARAMETER);
        }
        request.value = read_u16(input, setup_value_offset);
        request.index = read_u16(input, setup_index_offset);
        request.length = read_u16(input, setup_length_offset);
        const std::uint8_t type = static_cast<std::uint8_t>(request.value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(request.value);
        const bytes* descriptor = nullptr;
        if (type == 1 && index == 0) {
            descriptor = &device->usb->device_descriptor;
        } else if (type == 2 && index == 0) {
            descriptor = &device->usb->configuration;
        } else if (type == 3) {
            const auto string = device->usb->strings.find({index, request.index});
            descriptor = string == device->usb->strings.end() ? nullptr : &string->second;
        }
        if (descriptor == nullptr) {
            return failure(ERROR_GEN_FAILURE); // the device stalls the request
        }
        const std::size_t count = std::min<std::size_t>(
            {descriptor->size(), request.length, output_size - descriptor_request_header});
        bytes data(input.begin(), input.begin() + descriptor_request_header);
        data.insert(data.end(), descriptor->begin(), descriptor->begin() + static_cast<std::ptrdiff_t>(count));
        return {true, 0, std::move(data)};
    }
    return failure(ERROR_INVALID_FUNCTION);
}

} // namespace usb_device_tree
