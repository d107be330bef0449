#pragma once
// What a USB device on a hub port answers through the hub, and the
// description of a camera to plug into the test device tree. The simulated
// camera's own descriptors make the default camera.

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace usb_device_tree {

using bytes = std::vector<std::uint8_t>;

struct usb_device {
    bytes device_descriptor;
    bytes configuration;
    // String descriptors by (index, language id); (0, 0) is the language table.
    std::map<std::pair<std::uint8_t, std::uint16_t>, bytes> strings;
};

struct device_interface {
    GUID interface_class{};
    std::wstring path;
};

struct camera_spec {
    std::wstring instance_id;                 // "USB\VID_F0CA&PID_0C01\SIM00001"
    std::wstring driver_key;                  // CM_DRP_DRIVER; empty: the tree assigns one
    std::vector<device_interface> interfaces; // empty: the camera class and the driver's fixed class
    usb_device device;
};

// "\\?\USB#VID_F0CA&PID_0C01#SIM00001#{5dc9399a-...}" for an instance id.
std::wstring interface_path(const std::wstring& instance_id, const GUID& interface_class);

// The interfaces the driver registers for a camera: the camera class and its
// own fixed class.
std::vector<device_interface> default_interfaces(const std::wstring& instance_id);

// A camera from raw descriptors as a device holds them: `strings` by index,
// index 0 the language table; every other string answers in each listed
// language. The instance id is made of idVendor, idProduct and the serial
// number's text.
camera_spec camera_from_descriptors(const bytes& device_descriptor, const bytes& configuration,
                                    const std::map<std::uint8_t, bytes>& strings);

// The simulated camera: its device descriptor and configuration, English
// strings "Corvane", "CamTovra Sim" and the serial number.
camera_spec simulated_camera(std::u16string_view serial_number = u"SIM00001");

} // namespace usb_device_tree
