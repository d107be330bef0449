#pragma once
// The node building blocks of the service's feature groups: a value feature
// over a register the writer places at its next address, and the lock node of
// a group. Numbers in the document are "%f" texts with a decimal point
// whatever the locale.

#include "genicam/doc_builder.h"
#include "genicam/gcxml_records.h"
#include "properties/vcd_info.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gen_property {
class gen_property_reqistry;
}

namespace genext {

// Optional attributes of a value feature.
struct feature_attributes {
    gcxml::vcd_info placement;
    bool implemented_by_driver = true;
    std::string is_locked; // node name for pIsLocked; empty: none
    std::optional<gcxml::visibility_kind> visibility;
    std::optional<gcxml::access_mode_kind> imposed_access_mode;
};

// "-8.000000".
std::string float_text(double value);

// A Boolean over a new integer register; Default "0" or "1".
gcxml::reg_ref add_bool_feature(gcxml::doc_builder& writer, const std::string& name, bool default_value,
                                const feature_attributes& attributes);

struct float_range {
    double min = 0;
    double max = 0;
    double inc = 0;
    double def = 0;
};
// A Float over a new float register; Min, Max, Inc and Default as "%f".
gcxml::reg_ref add_float_feature(gcxml::doc_builder& writer, const std::string& name, const float_range& range,
                                 const feature_attributes& attributes);

// IntSwissKnife `name` = (enabled = 0 ? 1 : 0) over the enable register: 1
// while the group is disabled.
void add_lock_node(gcxml::doc_builder& writer, const std::string& name, const std::string& enable_register);

// An integer "force_..." value of the camera's property store: none when the
// store, the value or its integer type is missing.
std::optional<std::int64_t> forced_value(gen_property::gen_property_reqistry& handlers, std::wstring_view name);

// The property key of a register's handler.
inline std::uint32_t register_id(const gcxml::reg_ref& reg) noexcept
{
    return static_cast<std::uint32_t>(reg.address & 0xFFFFFFFFu);
}

} // namespace genext
