#pragma once
// Questions to the configuration manager's device tree that the walk asks:
// a node's device id, the node whose driver key has a name, and the hub a
// node hangs below.

#include "topology_platform.h"
#include "usb_topology.h"

#include <optional>
#include <string>

namespace cam::usb_topology {

// Buffers of device ids and interface lists, in characters.
inline constexpr ULONG device_id_chars = 260;

std::optional<std::wstring> node_device_id(topology_platform& platform, DEVINST node);
// The first node, depth first from the root, whose driver key (CM_DRP_DRIVER)
// equals `driver_key` without regard to case.
std::optional<DEVINST> find_node_by_driver_key(topology_platform& platform, const std::wstring& driver_key);
// The nearest ancestor of `node` with a present USB hub interface.
std::optional<hub_location> find_parent_hub(topology_platform& platform, DEVINST node);

} // namespace cam::usb_topology
