#include "properties/genext_node_writer.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"
#include "genicam/gcxml_node_writers.h"
#include "properties/property_store.h"
#include "properties/node_descriptions.h"
#include "properties/prop_meta_list.h"

#include <fmt/format.h>

namespace genext {

namespace {
void apply(gcxml::node_desc& node, const feature_attributes& attributes)
{
    prop_meta_list::add_vcd_info(node, attributes.placement);
    if (attributes.implemented_by_driver) {
        prop_meta_list::add_implementer_driver(node);
    }
    node.is_locked = attributes.is_locked;
    node.visibility = attributes.visibility;
    node.imposed_access_mode = attributes.imposed_access_mode;
}
} // namespace

std::string float_text(double value)
{
    // fmt's "{:f}" ignores the C locale: always a '.' and six digits.
    return fmt::format("{:f}", value);
}

gcxml::reg_ref add_bool_feature(gcxml::doc_builder& writer, const std::string& name, bool default_value,
                                const feature_attributes& attributes)
{
    gcxml::boolean_desc feature;
    gcxml::make_boolean_desc(feature, name, default_value ? 1 : 0, default_value ? 1 : 0);
    gcxml::int_reg_desc reg;
    gcxml::gen_node_desc_create(reg, gcxml::gen_node_desc_reg_name(feature));
    const gcxml::reg_ref added = gcxml::add_int_register(writer, reg);
    feature.value = gcxml::value_ref::link(added.name);
    apply(feature, attributes);
    gcxml::write_bool_node(writer.register_description(), feature);
    return added;
}

gcxml::reg_ref add_float_feature(gcxml::doc_builder& writer, const std::string& name, const float_range& range,
                                 const feature_attributes& attributes)
{
    gcxml::float_desc feature(name);
    gcxml::float_reg_desc reg;
    gcxml::gen_node_desc_create(reg, gcxml::gen_node_desc_reg_name(feature));
    const gcxml::reg_ref added = gcxml::add_float_register(writer, reg);
    feature.value = gcxml::value_ref::link(added.name);
    feature.min = gcxml::value_ref::literal(float_text(range.min));
    feature.max = gcxml::value_ref::literal(float_text(range.max));
    feature.inc = gcxml::value_ref::literal(float_text(range.inc));
    feature.default_text = float_text(range.def);
    feature.default_kind = gcxml::ref_kind::literal;
    apply(feature, attributes);
    genapi_xml_writer::write_float_node(writer.register_description(), feature);
    return added;
}

std::optional<std::int64_t> forced_value(gen_property::gen_property_reqistry& handlers, std::wstring_view name)
{
    utils::property_store_itf* store = handlers.property_store();
    std::int64_t value = 0;
    if (store == nullptr || !store->read_int(name, value)) {
        return std::nullopt;
    }
    return value;
}

void add_lock_node(gcxml::doc_builder& writer, const std::string& name, const std::string& enable_register)
{
    gcxml::int_swissknife_desc lock(name);
    lock.variables.push_back({"enabled", enable_register});
    lock.formula = "enabled = 0 ? 1 : 0";
    genapi_xml_writer::write_int_swissknife_node(writer.register_description(), lock);
}

} // namespace genext
