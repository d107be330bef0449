#include "usb_topology.h"

#include "device_nodes.h"
#include "hub_protocol.h"
#include "hub_query.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace cam::usb_topology {
namespace {

constexpr DWORD detail_buffer_size = 4096;
constexpr DWORD instance_id_buffer_size = 8192;

// DEVPKEY_Device_InstanceId, spelled out so that no translation unit has to
// define the key's storage.
constexpr DEVPROPKEY instance_id_key = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};

// What the walk read of one present interface: its path and instance id and
// what its parent hub told about it (empty when the device could not be
// placed).
struct interface_read {
    std::wstring instance_id;
    std::wstring device_path;
    port_result port;

    bool resolved() const { return !port.manufacturer.empty(); }
    camera_entry entry() &&
    {
        camera_entry made;
        made.instance_id = std::move(instance_id);
        made.device_path = std::move(device_path);
        made.manufacturer = std::move(port.manufacturer);
        made.product = std::move(port.product);
        made.serial_number = std::move(port.serial_number);
        made.id_vendor = port.id_vendor;
        made.id_product = port.id_product;
        return made;
    }
};

// The manufacturer, product and serial number of the device with instance id
// `instance_id`, read through its parent hub; empty when the device cannot be
// placed.
port_result find_location(topology_platform& platform, const std::wstring& instance_id, driver_key_index& nodes)
{
    DEVINST node = 0;
    if (platform.locate_devnode(&node, instance_id.c_str()) != CR_SUCCESS || !node_device_id(platform, node)) {
        return {};
    }
    const auto hub = find_parent_hub(platform, node);
    if (!hub) {
        return {};
    }
    return query_hub(platform, hub->hub_path, instance_id, nodes);
}

std::optional<interface_read> read_interface(topology_platform& platform, HDEVINFO set,
                                             SP_DEVICE_INTERFACE_DATA& interface_data, driver_key_index& nodes)
{
    // Zero-filled and aligned for the detail record; the path ends inside.
    std::vector<std::uint64_t> detail_storage(detail_buffer_size / sizeof(std::uint64_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail_storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!platform.get_device_interface_detail(set, &interface_data, detail, detail_buffer_size - sizeof(wchar_t),
                                              nullptr, &device)) {
        return std::nullopt;
    }

    // Two bytes short of the buffer, so the text always ends in a zero.
    std::vector<wchar_t> instance_id(instance_id_buffer_size / sizeof(wchar_t), L'\0');
    DEVPROPTYPE type = 0;
    if (!platform.get_device_property(set, &device, instance_id_key, &type,
                                      reinterpret_cast<BYTE*>(instance_id.data()),
                                      instance_id_buffer_size - sizeof(wchar_t), nullptr)) {
        return std::nullopt;
    }

    interface_read read;
    read.instance_id = instance_id.data();
    read.device_path = detail->DevicePath;
    read.port = find_location(platform, read.instance_id, nodes);
    return read;
}

// Reads every present interface of `interface_class` whose path and instance
// id can be had, in the system's order; the device tree is read once for all.
template <typename on_read>
void read_interfaces(topology_platform& platform, const GUID& interface_class, on_read&& take)
{
    const device_info_set set(platform, platform.get_class_devs(interface_class, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        return;
    }
    driver_key_index nodes(platform);
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    for (DWORD index = 0; platform.enum_device_interfaces(set.get(), interface_class, index, &interface_data);
         ++index) {
        if (auto read = read_interface(platform, set.get(), interface_data, nodes)) {
            take(std::move(*read));
        }
    }
}

bool same_path(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

void enumerate_interfaces(const GUID& interface_class, std::vector<camera_entry>& list,
                          topology_platform& platform)
{
    read_interfaces(platform, interface_class, [&](interface_read&& read) {
        if (read.resolved()) {
            list.push_back(std::move(read).entry());
        }
    });
}

std::vector<camera_entry> find_device(topology_platform& platform)
{
    std::vector<camera_entry> list;
    enumerate_interfaces(camera_interface_class, list, platform);
    return list;
}

std::vector<camera_entry> camera_list::find_device()
{
    std::lock_guard lock(lock_);
    std::vector<camera_entry> list;
    read_interfaces(*platform_, camera_interface_class, [&](interface_read&& read) {
        const auto last = std::find_if(known_.begin(), known_.end(), [&](const camera_entry& known) {
            return same_path(known.device_path, read.device_path) && known.instance_id == read.instance_id;
        });
        if (last != known_.end() && !read.port.complete) {
            list.push_back(*last);
        } else if (read.resolved()) {
            list.push_back(std::move(read).entry());
        }
    });
    known_ = list;
    return list;
}

void camera_list::forget(std::wstring_view device_path)
{
    std::lock_guard lock(lock_);
    std::erase_if(known_, [&](const camera_entry& known) { return same_path(known.device_path, device_path); });
}

} // namespace cam::usb_topology
