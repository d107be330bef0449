#pragma once
// The textual feature request of a client: "Target/Attribute[/Third]", for
// example "ExposureTime/Value" or "TriggerMode/On/IsAvailable".

#include <string_view>

namespace drv_genicam {

struct named_request {
    std::string_view target;    // a node name
    std::string_view attribute; // what of the node: "Value", "Min", an entry name, ...
    std::string_view third;     // for enumeration entries: "IsLocked", "IsImplemented", "IsAvailable"
};

// Splits at '/' into at most three components; text after a third '/' is
// ignored. A missing or empty component is an empty view.
named_request split_named_request(std::string_view text) noexcept;

} // namespace drv_genicam
