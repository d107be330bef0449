#include "properties/genicam_feature.h"

#include "properties/genicam_value_conversions.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"
#include "gen_utils/cam_error.h"
#include "genicam/genicam_error.h"

#include <cfloat>
#include <cmath>

namespace drv_genicam {

namespace {
constexpr std::uint32_t manual = cam::flag_manual;

// A double in a f32 field: the cast is defined only inside the float range.
double clamp_to_float(double value) noexcept
{
    if (std::isnan(value)) {
        return value;
    }
    return value < -FLT_MAX ? -FLT_MAX : (value > FLT_MAX ? FLT_MAX : value);
}

// The f32 a float record carries for a node value.
float record_float(double node_value, double divisor) noexcept
{
    return static_cast<float>(clamp_to_float(node_value / divisor));
}

// Whether a bound's f32 image can stand for the bound in a set: it must be a
// normal number short of the end of the f32 range. The image of a bound past
// FLT_MAX is that end, and the image of a nonzero bound below FLT_MIN is 0 or
// a denormal: a client that sends such a number means it as it is (a 0 sent
// means 0, not the smallest double a Float without Min reports).
bool image_stands_for_bound(float image) noexcept
{
    return std::isnormal(image) && std::fabs(image) != FLT_MAX;
}
} // namespace

GenICam::INode* find_feature(std::span<const doc_entry> documents, std::string_view name, GenICam::node_type kind)
{
    for (const doc_entry& entry : documents) {
        if (!entry.document) {
            continue;
        }
        GenICam::INode* node = entry.document->find_node(name);
        if (node == nullptr) {
            continue;
        }
        if (node->get_node_type() != kind || !node->is_implemented()) {
            return nullptr;
        }
        return node;
    }
    return nullptr;
}

outcome::std_result<bool_feature> read_feature_bool(GenICam::IBoolean& node)
{
    auto value = node.get_val();
    if (!value) {
        return value.error();
    }
    bool_feature read;
    read.value = value.value();
    if (auto def = node.get_default()) {
        read.default_value = def.value();
    }
    return read;
}

outcome::std_result<int_feature> read_feature_int(GenICam::IInteger& node)
{
    int_feature read;
    auto value = node.get_val();
    if (!value) {
        return value.error();
    }
    auto min = node.get_min();
    if (!min) {
        return min.error();
    }
    auto max = node.get_max();
    if (!max) {
        return max.error();
    }
    read.value = value.value();
    read.min = min.value();
    read.max = max.value();
    auto def = node.get_default();
    read.default_value = def ? def.value() : read.min;
    auto inc = node.get_inc();
    read.increment = inc ? inc.value() : 1;
    return read;
}

outcome::std_result<float_feature> read_feature_float(GenICam::IFloat& node)
{
    float_feature read;
    auto value = node.get_val();
    if (!value) {
        return value.error();
    }
    auto min = node.get_min();
    if (!min) {
        return min.error();
    }
    auto max = node.get_max();
    if (!max) {
        return max.error();
    }
    read.value = value.value();
    read.min = min.value();
    read.max = max.value();
    auto def = node.get_default();
    read.default_value = def ? def.value() : read.min;
    auto inc = node.get_inc();
    read.increment = inc ? inc.value() : 1.0;
    return read;
}

outcome::std_result<std::string_view> selected_entry_name(GenICam::IEnumeration& node)
{
    auto entry = node.get_entry();
    if (!entry) {
        return entry.error();
    }
    if (entry.value() == nullptr) {
        return invalid_argument();
    }
    return entry.value()->get_name();
}

outcome::std_result<bool> read_feature_enum(GenICam::IEnumeration& node, std::string_view on_name,
                                            std::string_view off_name)
{
    auto name = selected_entry_name(node);
    if (!name) {
        return name.error();
    }
    if (name.value() == off_name) {
        return false;
    }
    if (name.value() == on_name) {
        return true;
    }
    return invalid_argument();
}

std::error_code select_entry(GenICam::IEnumeration& node, std::string_view name)
{
    GenICam::IEnumEntry* entry = node.find_entry_by_name(name);
    if (entry == nullptr) {
        return invalid_argument();
    }
    return node.set_entry(entry);
}

bool has_entry(GenICam::IEnumeration& node, std::string_view name)
{
    return node.find_entry_by_name(name) != nullptr;
}

std::error_code not_implemented() noexcept
{
    return make_cam_error(E_NOTIMPL);
}

std::error_code invalid_argument() noexcept
{
    return make_cam_error(E_INVALIDARG);
}

std::error_code insufficient_buffer() noexcept
{
    return make_cam_error(static_cast<HRESULT>(0x8007007A));
}

bool is_key(const KsPropDataRequest& request, const GUID& property_set, std::uint32_t id) noexcept
{
    return request.property_id == id && cam::same_guid(request.property_set, property_set);
}

std::error_code write_int_feature_reply(KsPropDataRequest& request, GenICam::IInteger& node)
{
    auto read = read_feature_int(node);
    if (!read) {
        return read.error();
    }
    const int_feature& f = read.value();
    return cam::write_range_value_reply(request, manual, saturate_i32(f.min), saturate_i32(f.max),
                                        saturate_i32(f.default_value), saturate_i32(f.value), manual);
}

std::error_code write_bool_feature_reply(KsPropDataRequest& request, GenICam::IBoolean& node)
{
    auto read = read_feature_bool(node);
    if (!read) {
        return read.error();
    }
    return cam::write_range_value_reply(request, manual, 0, 1, 0, read.value().value ? 1 : 0, manual);
}

std::error_code write_float_feature_reply(KsPropDataRequest& request, GenICam::IFloat& node, double divisor)
{
    auto read = read_feature_float(node);
    if (!read) {
        return read.error();
    }
    const float_feature& f = read.value();
    return cam::write_float_range_value_reply(request, record_float(f.min, divisor), record_float(f.max, divisor),
                                              record_float(f.default_value, divisor),
                                              record_float(f.value, divisor));
}

std::error_code set_float_feature(const KsPropDataRequest& request, GenICam::IFloat& node, double factor)
{
    auto value = cam::read_float_from_set_request(request);
    if (!value) {
        return value.error();
    }
    const float sent = value.value();
    if (std::isnan(sent)) {
        return invalid_argument();
    }
    // The client knows the range only as the f32 bounds a get reported. Each
    // stands for the node's exact bound (its f32 times the factor may lie just
    // outside it), and a value past it is refused here: the node's tolerance
    // is meant for doubles and would let the nearest f32 past a small bound
    // through. A bound the node cannot give is left to its own check, and a
    // bound whose image cannot stand for it is written as sent.
    double target = static_cast<double>(sent) * factor;
    if (const auto min = node.get_min()) {
        const float low = record_float(min.value(), factor);
        if (sent < low) {
            return make_error_code(GenICam::errc::value_out_of_range);
        }
        if (sent == low && image_stands_for_bound(low)) {
            target = min.value();
        }
    }
    if (const auto max = node.get_max()) {
        const float high = record_float(max.value(), factor);
        if (sent > high) {
            return make_error_code(GenICam::errc::value_out_of_range);
        }
        if (sent == high && image_stands_for_bound(high)) {
            target = max.value();
        }
    }
    return node.set_val(target);
}

std::error_code auto_switch(const KsPropDataRequest& request, GenICam::IEnumeration* auto_node,
                            const std::function<std::error_code(std::int32_t)>& write_value)
{
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    std::error_code remembered = not_implemented();
    if (auto_node != nullptr) {
        auto on = read_feature_enum(*auto_node, "Continuous", "Off");
        if (!on) {
            remembered = on.error();
        } else {
            const bool want_auto = (record.value().flags & cam::flag_auto) != 0;
            if (want_auto != on.value()) {
                return select_entry(*auto_node, want_auto ? "Continuous" : "Off");
            }
            if (want_auto) {
                return {};
            }
        }
    }
    if (write_value) {
        return write_value(record.value().value);
    }
    return remembered;
}

std::error_code auto_capability(KsPropDataRequest& request, GenICam::IEnumeration* auto_node)
{
    if (auto_node == nullptr) {
        return {};
    }
    auto on = read_feature_enum(*auto_node, "Continuous", "Off");
    if (!on) {
        return on.error();
    }
    return cam::add_auto_capability(request, on.value() ? cam::flag_auto : 0);
}

} // namespace drv_genicam
