#pragma once
// Where a property page shows a feature of the service's own document: the
// texts that become the node's VCD* metadata entries.

#include <cstdint>
#include <string>

namespace gcxml {

struct vcd_info {
    std::string category_name;
    std::string item_name;
    std::string item_guid;
    std::string element_name;
    std::string element_guid;
    std::int32_t element_order = 0;
};

} // namespace gcxml
