#pragma once
// Lists the cameras that are present: every device interface of a class, the
// device node behind it, its parent hub and, read through that hub's driver,
// the camera's manufacturer, product and serial-number strings. Nothing is
// sent to the camera's own driver. Failures are not reported: an interface
// or port that cannot be resolved is left out and the walk goes on.

#include "topology_platform.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace cam::usb_topology {

// Device-interface class of the cameras: the driver registers it beside its
// own fixed class when the installation names it.
inline constexpr GUID camera_interface_class = {
    0x5dc9399a, 0x8f79, 0x4aea, {0x97, 0x0b, 0xcc, 0x70, 0x47, 0x38, 0x49, 0xe9}};

struct camera_entry {
    std::wstring instance_id;
    std::wstring device_path;
    std::wstring manufacturer;
    std::wstring product;
    std::wstring serial_number;
    std::uint16_t id_vendor = 0;
    std::uint16_t id_product = 0;
};

// What a hub port told about the device on it; empty when nothing was found.
struct port_result {
    std::wstring manufacturer;
    std::wstring product;
    std::wstring serial_number;
    std::uint16_t id_vendor = 0;
    std::uint16_t id_product = 0;
    // The port was found and answered every request of the read: its
    // configuration, the language table and each string in each language.
    bool complete = false;
};

struct string_entry {
    std::wstring text;
    std::uint8_t index = 0;
    std::uint16_t language = 0;
};

struct hub_location {
    DEVINST node = 0;
    std::wstring device_id;
    std::wstring hub_path;
};

// The cameras of the camera device-interface class, in the system's order.
std::vector<camera_entry> find_device(topology_platform& platform = win32_topology_platform());
// Appends one entry per present interface of `interface_class` that resolves.
void enumerate_interfaces(const GUID& interface_class, std::vector<camera_entry>& list,
                          topology_platform& platform = win32_topology_platform());

// The walk as a service repeats it, every few seconds, while cameras stream:
// a hub that refuses one request of a read must not make a camera that is
// still there disappear. A camera keeps the last record read of it while its
// device interface stays present (same path, same instance id) and a new
// read of it fails or comes back incomplete; a complete read replaces the
// record. The record goes with the interface, or when `forget` is told that
// the interface was removed.
class camera_list {
public:
    explicit camera_list(topology_platform& platform = win32_topology_platform()) : platform_(&platform) {}
    camera_list(const camera_list&) = delete;
    camera_list& operator=(const camera_list&) = delete;

    // The cameras of the camera device-interface class, in the system's order.
    std::vector<camera_entry> find_device();
    // A removal of the interface with this path (compared without regard to
    // case) was reported: its record is not kept past a failing read.
    void forget(std::wstring_view device_path);

private:
    topology_platform* platform_;
    // Guarded by lock_, which a walk holds throughout, so that a removal
    // reported during a walk is applied after it.
    std::mutex lock_;
    std::vector<camera_entry> known_; // the records of the last walk
};

} // namespace cam::usb_topology
