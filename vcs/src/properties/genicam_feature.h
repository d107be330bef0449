#pragma once
// Finding the camera's features in the named-request proxy's documents and
// reading them as the property handlers need them, plus the small pieces the
// handlers share (key checks, entry selection, record helpers).

#include "properties/genicam_named_req_proxy.h"
#include "properties/genicam_property_ids.h"

#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"

#include <boost/outcome.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string_view>
#include <system_error>

namespace drv_genicam {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// The first document holding a node of that name decides: the node when it
// has the kind and is implemented, else none (later documents are not
// searched).
GenICam::INode* find_feature(std::span<const doc_entry> documents, std::string_view name,
                             GenICam::node_type kind);

template <class Interface>
Interface* find_feature_as(std::span<const doc_entry> documents, std::string_view name)
{
    return static_cast<Interface*>(find_feature(documents, name, Interface::static_type));
}

struct bool_feature {
    bool value = false;
    bool default_value = true;
};
struct int_feature {
    std::int64_t min = 0;
    std::int64_t max = 0;
    std::int64_t default_value = 0;
    std::int64_t increment = 1;
    std::int64_t value = 0;
};
struct float_feature {
    double min = 0;
    double max = 0;
    double default_value = 0;
    double increment = 1.0;
    double value = 0;
};

// The value must read; a default that cannot be read is true.
outcome::std_result<bool_feature> read_feature_bool(GenICam::IBoolean& node);
// Value, minimum and maximum must read (else their error); a missing default
// is the minimum, a missing increment 1.
outcome::std_result<int_feature> read_feature_int(GenICam::IInteger& node);
outcome::std_result<float_feature> read_feature_float(GenICam::IFloat& node);
// The selected entry named off_name → false, on_name → true, anything else →
// E_INVALIDARG. The off name is compared first.
outcome::std_result<bool> read_feature_enum(GenICam::IEnumeration& node, std::string_view on_name,
                                            std::string_view off_name);

// The name of the selected entry.
outcome::std_result<std::string_view> selected_entry_name(GenICam::IEnumeration& node);
// Selects the entry of that name; E_INVALIDARG when there is none.
std::error_code select_entry(GenICam::IEnumeration& node, std::string_view name);
bool has_entry(GenICam::IEnumeration& node, std::string_view name);

// 0x80004001, 0x80070057, 0x8007007A.
std::error_code not_implemented() noexcept;
std::error_code invalid_argument() noexcept;
std::error_code insufficient_buffer() noexcept;

bool is_key(const KsPropDataRequest& request, const GUID& property_set, std::uint32_t id) noexcept;

// The vendor set's 48-byte record over an integer feature (values saturated
// at the i32 limits), capabilities 2, flags 2.
std::error_code write_int_feature_reply(KsPropDataRequest& request, GenICam::IInteger& node);
// 48-byte record of a boolean: 0..1, default 0, the value as 0 or 1.
std::error_code write_bool_feature_reply(KsPropDataRequest& request, GenICam::IBoolean& node);
// The 56-byte float record of a float feature, each value divided by `divisor`.
std::error_code write_float_feature_reply(KsPropDataRequest& request, GenICam::IFloat& node, double divisor);
// The f32 of a 56-byte set record times `factor` into the node; NaN →
// E_INVALIDARG, nothing written. The f32 bounds of the get record stand for
// the node's exact bounds; a value past them is out of range.
std::error_code set_float_feature(const KsPropDataRequest& request, GenICam::IFloat& node, double factor);

// The node value that a set of the integer `sent` writes to a float feature
// whose records report each bound as `to_record`(bound) (a std::optional of
// int32). A client knows the range only as those integers and sends them back
// as they are: each stands for the node's exact bound, which `converted` (sent
// turned back into node units) can miss by the rounding. A reported bound at
// an int32 limit may have saturated and is not taken for the node's bound.
// Any other value is `converted`, for the node to check against its range.
template <class ToRecord>
double float_from_record(GenICam::IFloat& node, std::int32_t sent, double converted, ToRecord to_record)
{
    if (sent == std::numeric_limits<std::int32_t>::min() || sent == std::numeric_limits<std::int32_t>::max()) {
        return converted;
    }
    const auto reported_as_sent = [&](const auto& bound) {
        return bound && to_record(bound.value()) == sent;
    };
    if (const auto min = node.get_min(); reported_as_sent(min)) {
        return min.value();
    }
    if (const auto max = node.get_max(); reported_as_sent(max)) {
        return max.value();
    }
    return converted;
}

// A default for a record that reports `min` and `max`: brought into that
// range, so that a client can set back what it was told (a fixed default, or
// one the rounding moved, may lie outside it). Unchanged when min > max.
inline std::int32_t default_in_range(std::int32_t def, std::int32_t min, std::int32_t max) noexcept
{
    return min <= max ? std::clamp(def, min, max) : def;
}

// Auto switch of a set on the standard sets: value and flags from the
// 40-byte record; with an auto node, a change of the auto state (flags bit 0)
// selects "Continuous" or "Off" and writes nothing else, auto already on is
// done, manual already on goes on to `write_value` (may be empty when the
// value node is absent: then the auto node's read error, or E_NOTIMPL).
std::error_code auto_switch(const KsPropDataRequest& request, GenICam::IEnumeration* auto_node,
                            const std::function<std::error_code(std::int32_t)>& write_value);
// After a standard reply: ORs the auto capability and, when the auto node is
// "Continuous", the auto flag. Nothing without an auto node.
std::error_code auto_capability(KsPropDataRequest& request, GenICam::IEnumeration* auto_node);

} // namespace drv_genicam
