#pragma once
// A device tree for tests and for the simulated service: the root, a host
// controller with its root hub, and the devices plugged into hub ports. It
// answers the walk's SetupAPI, configuration-manager and hub calls the way
// the system does, from what its devices' descriptors hold. Cameras and hubs
// can be plugged in and pulled out at any time from any thread; every call is
// served under one lock.

#include "usb_device.h"

#include <usb_topology/topology_platform.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace usb_device_tree {

struct hub_options {
    std::uint8_t ports = 4;
    // False: the hub fails the extended connection query, as older hubs do.
    bool extended_query = true;
    // The hub's interface path as the configuration manager lists it;
    // empty: one made of the hub's instance id.
    std::wstring interface_path;
};

// An I/O control that reached a hub. For descriptor requests the setup
// fields; otherwise they are 0.
struct hub_request {
    DEVINST hub = 0;
    DWORD code = 0;
    std::uint32_t port = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// The answer the hub is about to give: success or the error, and the bytes
// written to the output (the count returned is their number, never more than
// the output buffer holds).
struct hub_reply {
    bool succeeded = true;
    DWORD error = 0;
    bytes data;
};

// Sees every answer before it is given and may change it: fail it, cut it
// short, rewrite its bytes. Runs under the tree's lock; it must not call the
// tree.
using reply_filter = std::function<void(const hub_request&, hub_reply&)>;

class device_tree final : public cam::usb_topology::topology_platform {
public:
    device_tree();
    ~device_tree() override;
    device_tree(const device_tree&) = delete;
    device_tree& operator=(const device_tree&) = delete;

    DEVINST root() const { return root_; }
    DEVINST root_hub() const { return root_hub_; }

    // Plugs a hub or a camera into a port of `hub` (1 to its port count, not
    // taken). Throws std::invalid_argument otherwise.
    DEVINST add_hub(DEVINST hub, std::uint8_t port, hub_options options = {});
    DEVINST add_camera(DEVINST hub, std::uint8_t port, camera_spec camera);
    // Pulls a device out with everything below it; false if it is not there.
    bool remove_device(DEVINST node);
    // The node of the device with this instance id.
    std::optional<DEVINST> find(const std::wstring& instance_id) const;

    void set_reply_filter(reply_filter filter);
    // The hubs refuse, with `error`, the next request that `which` picks
    // (after the reply filter), once; armed only while no refusal is pending:
    // false when one already is. `which` runs under the tree's lock and must
    // not call the tree.
    bool refuse_once(std::function<bool(const hub_request&)> which, DWORD error = ERROR_GEN_FAILURE);
    // True while an armed refusal has not met its request yet.
    bool refusal_pending() const;
    // Driver keys (CM_DRP_DRIVER) the tree was asked for so far.
    std::size_t driver_key_reads() const;
    // The I/O controls the hubs received, oldest first (the latest few
    // thousand).
    std::vector<hub_request> requests() const;
    // Device-information sets and hub files handed out and not yet released.
    std::size_t open_handles() const;

    // -------- topology_platform
    HDEVINFO get_class_devs(const GUID& interface_class, DWORD flags) override;
    BOOL enum_device_interfaces(HDEVINFO set, const GUID& interface_class, DWORD index,
                                SP_DEVICE_INTERFACE_DATA* interface_data) override;
    BOOL get_device_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data,
                                     SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size, DWORD* required,
                                     SP_DEVINFO_DATA* device) override;
    BOOL get_device_property(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key, DEVPROPTYPE* type,
                             BYTE* buffer, DWORD size, DWORD* required) override;
    BOOL destroy_device_info_list(HDEVINFO set) override;
    CONFIGRET locate_devnode(DEVINST* node, const wchar_t* device_id) override;
    CONFIGRET get_device_id(DEVINST node, wchar_t* buffer, ULONG length) override;
    CONFIGRET get_parent(DEVINST* parent, DEVINST node) override;
    CONFIGRET get_child(DEVINST* child, DEVINST node) override;
    CONFIGRET get_sibling(DEVINST* sibling, DEVINST node) override;
    CONFIGRET get_device_interface_list(const GUID& interface_class, const wchar_t* device_id, wchar_t* buffer,
                                        ULONG length, ULONG flags) override;
    CONFIGRET get_devnode_registry_property(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                            ULONG* length) override;
    HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
    BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned) override;
    BOOL close_handle(HANDLE file) override;

private:
    struct node {
        DEVINST parent = 0;
        std::vector<DEVINST> children;
        std::wstring device_id;
        std::wstring driver_key;
        std::vector<device_interface> interfaces;
        std::optional<usb_device> usb;   // a device on a hub port
        std::optional<hub_options> hub;  // a hub
        std::map<std::uint8_t, DEVINST> ports;
    };
    // A snapshot of the interfaces of one class, as SetupAPI keeps it.
    struct info_entry {
        DEVINST node = 0;
        std::wstring instance_id;
        device_interface itf;
    };

    DEVINST add_node(DEVINST parent, node entry);
    DEVINST plug(DEVINST hub, std::uint8_t port, node entry);
    const node* lookup(DEVINST id) const;
    const std::vector<info_entry>* info_set(HDEVINFO set) const;
    const info_entry* info_item(HDEVINFO set, ULONG_PTR token) const;
    hub_reply answer(const node& hub, DWORD code, const bytes& input, DWORD output_size, hub_request& request) const;

    mutable std::mutex lock_;
    std::map<DEVINST, node> nodes_;
    DEVINST next_node_ = 1;
    DEVINST root_ = 0;
    DEVINST root_hub_ = 0;
    unsigned next_driver_key_ = 1;
    std::map<HDEVINFO, std::vector<info_entry>> sets_;
    std::map<HANDLE, DEVINST> files_;
    std::uintptr_t next_handle_ = 0x5e70;
    reply_filter filter_;
    // These three guarded by lock_, as everything the calls reach.
    std::function<bool(const hub_request&)> refusal_; // empty: none pending
    DWORD refusal_error_ = 0;
    std::size_t driver_key_reads_ = 0;
    std::vector<hub_request> requests_;
};

} // namespace usb_device_tree
