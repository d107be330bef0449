#pragma once
// Questions to the configuration manager's device tree that the walk asks:
// a node's device id, the node whose driver key has a name, and the hub a
// node hangs below.

#include "topology_platform.h"
#include "usb_topology.h"

#include <optional>
#include <string>
#include <vector>

namespace cam::usb_topology {

// Buffers of device ids and interface lists, in characters.
inline constexpr ULONG device_id_chars = 260;

std::optional<std::wstring> node_device_id(topology_platform& platform, DEVINST node);

// The driver key (CM_DRP_DRIVER) of every node of the tree, read once, depth
// first from the root, when first asked: one walk looks up every port of
// every hub it opens here instead of reading the tree again for each.
class driver_key_index {
public:
    explicit driver_key_index(topology_platform& platform) : platform_(&platform) {}

    // The first node, depth first from the root, whose driver key equals
    // `driver_key` without regard to case.
    std::optional<DEVINST> find(const std::wstring& driver_key);

private:
    struct node_key {
        std::wstring driver_key;
        DEVINST node = 0;
    };
    void read_tree();

    topology_platform* platform_;
    std::optional<std::vector<node_key>> keys_; // empty until first asked
};
// The nearest ancestor of `node` with a present USB hub interface.
std::optional<hub_location> find_parent_hub(topology_platform& platform, DEVINST node);

} // namespace cam::usb_topology
