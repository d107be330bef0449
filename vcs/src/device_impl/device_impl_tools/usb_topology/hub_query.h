#pragma once
// One hub asked about the device with a given instance id: which port it sits
// on (through the port's driver key) and, read through the hub, its strings.

#include "device_nodes.h"
#include "topology_platform.h"
#include "usb_topology.h"

#include <string>

namespace cam::usb_topology {

// Empty when the hub cannot be opened, no port leads to `instance_id` or that
// port delivers no configuration. Ports are placed in the device tree through
// `nodes`.
port_result query_hub(topology_platform& platform, const std::wstring& hub_path, const std::wstring& instance_id,
                      driver_key_index& nodes);

} // namespace cam::usb_topology
