#include "usb_device.h"

#include <descriptors.h>
#include <usb_topology/usb_topology.h>

#include <cstdio>

namespace usb_device_tree {
namespace {

// The class the driver always registers for a camera.
constexpr GUID driver_interface_class = {0xe3f11b63, 0x2570, 0x4329, {0xaa, 0xd9, 0xee, 0x7e, 0xba, 0x25, 0x5f, 0x20}};

std::wstring guid_text(const GUID& guid)
{
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::wstring descriptor_text(const bytes& descriptor)
{
    std::wstring text;
    for (std::size_t at = 2; at + 1 < descriptor.size() && at + 1 < descriptor[0]; at += 2) {
        text.push_back(static_cast<wchar_t>(descriptor[at] | descriptor[at + 1] << 8));
    }
    return text;
}

} // namespace

std::wstring interface_path(const std::wstring& instance_id, const GUID& interface_class)
{
    std::wstring path = L"\\\\?\\" + instance_id + L"#" + guid_text(interface_class);
    for (std::size_t at = 4; at < path.size(); ++at) {
        if (path[at] == L'\\') {
            path[at] = L'#';
        }
    }
    return path;
}

camera_spec camera_from_descriptors(const bytes& device_descriptor, const bytes& configuration,
                                    const std::map<std::uint8_t, bytes>& strings)
{
    camera_spec spec;
    spec.device.device_descriptor = device_descriptor;
    spec.device.configuration = configuration;
    std::vector<std::uint16_t> languages;
    if (const auto table = strings.find(0); table != strings.end()) {
        spec.device.strings[{0, 0}] = table->second;
        for (const wchar_t language : descriptor_text(table->second)) {
            languages.push_back(static_cast<std::uint16_t>(language));
        }
    }
    for (const auto& [index, descriptor] : strings) {
        for (const std::uint16_t language : languages) {
            if (index != 0) {
                spec.device.strings[{index, language}] = descriptor;
            }
        }
    }
    std::wstring serial;
    if (device_descriptor.size() >= 18) {
        if (const auto found = strings.find(device_descriptor[16]); found != strings.end() && found->first != 0) {
            serial = descriptor_text(found->second);
        }
    }
    wchar_t ids[32] = {};
    if (device_descriptor.size() >= 12) {
        std::swprintf(ids, 32, L"VID_%04X&PID_%04X", device_descriptor[8] | device_descriptor[9] << 8,
                      device_descriptor[10] | device_descriptor[11] << 8);
    }
    spec.instance_id = L"USB\\" + std::wstring(ids) + L"\\" + serial;
    return spec;
}

std::vector<device_interface> default_interfaces(const std::wstring& instance_id)
{
    return {{cam::usb_topology::camera_interface_class,
             interface_path(instance_id, cam::usb_topology::camera_interface_class)},
            {driver_interface_class, interface_path(instance_id, driver_interface_class)}};
}

camera_spec simulated_camera(std::u16string_view serial_number)
{
    return camera_from_descriptors(sim_camera::device_descriptor(), sim_camera::uvc_camera_configuration(),
                                   {{0, {4, 0x03, 0x09, 0x04}},
                                    {1, sim_camera::string_descriptor(u"Corvane")},
                                    {2, sim_camera::string_descriptor(u"CamTovra Sim")},
                                    {3, sim_camera::string_descriptor(serial_number)}});
}

} // namespace usb_device_tree
