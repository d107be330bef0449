#include "usb_topology.h"

#include "device_nodes.h"
#include "hub_protocol.h"
#include "hub_query.h"

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

// The manufacturer, product and serial number of the device with instance id
// `instance_id`, read through its parent hub; nothing when the device cannot
// be placed or names no readable manufacturer.
std::optional<port_result> find_location(topology_platform& platform, const std::wstring& instance_id)
{
    DEVINST node = 0;
    if (platform.locate_devnode(&node, instance_id.c_str()) != CR_SUCCESS || !node_device_id(platform, node)) {
        return std::nullopt;
    }
    const auto hub = find_parent_hub(platform, node);
    if (!hub) {
        return std::nullopt;
    }
    port_result found = query_hub(platform, hub->hub_path, instance_id);
    if (found.manufacturer.empty()) {
        return std::nullopt;
    }
    return found;
}

std::optional<camera_entry> resolve_interface(topology_platform& platform, HDEVINFO set,
                                              SP_DEVICE_INTERFACE_DATA& interface_data)
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

    camera_entry entry;
    entry.instance_id = instance_id.data();
    auto found = find_location(platform, entry.instance_id);
    if (!found) {
        return std::nullopt;
    }
    entry.device_path = detail->DevicePath;
    entry.manufacturer = std::move(found->manufacturer);
    entry.product = std::move(found->product);
    entry.serial_number = std::move(found->serial_number);
    entry.id_vendor = found->id_vendor;
    entry.id_product = found->id_product;
    return entry;
}

} // namespace

void enumerate_interfaces(const GUID& interface_class, std::vector<camera_entry>& list,
                          topology_platform& platform)
{
    const device_info_set set(platform, platform.get_class_devs(interface_class, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        return;
    }
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    for (DWORD index = 0; platform.enum_device_interfaces(set.get(), interface_class, index, &interface_data);
         ++index) {
        if (auto entry = resolve_interface(platform, set.get(), interface_data)) {
            list.push_back(std::move(*entry));
        }
    }
}

std::vector<camera_entry> find_device(topology_platform& platform)
{
    std::vector<camera_entry> list;
    enumerate_interfaces(camera_interface_class, list, platform);
    return list;
}

} // namespace cam::usb_topology
