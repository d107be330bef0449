#include "properties/node_descriptions.h"

#include "genicam/gcxml_node_writers.h"
#include "properties/prop_meta_list.h"

#include <pugixml.hpp>

namespace gcxml {

void gen_node_desc_init(node_desc& record, std::string name)
{
    record = node_desc(std::move(name));
}

void gen_node_desc_create(register_desc& record, std::string name)
{
    gen_node_desc_init(record, std::move(name));
    record.streamable.reset();
    record.address = 0;
    record.length = value_ref::literal("4");
    record.access_mode = access_mode_kind::rw;
    record.port.clear();
    record.cachable.reset();
    record.invalidators.clear();
}

void make_boolean_desc(boolean_desc& record, std::string name, std::uint8_t value, std::uint8_t default_value)
{
    gen_node_desc_init(record, std::move(name));
    record.invalidators.clear();
    record.streamable.reset();
    record.value = value_ref::literal(std::to_string(value));
    record.default_text = std::to_string(default_value);
    record.default_kind = ref_kind::literal;
    record.do_not_serialize = false;
}

std::string gen_node_desc_reg_name(const node_desc& record)
{
    std::string name;
    name.reserve(record.name.size() + 4);
    name += record.name;
    name += "_Reg";
    return name;
}

reg_ref add_boolean_register_feature(doc_builder& writer, boolean_desc& feature, const vcd_info& placement,
                                     std::string_view is_implemented)
{
    int_reg_desc reg;
    gen_node_desc_create(reg, gen_node_desc_reg_name(feature));
    reg.sign.reset();
    reg.endianess = endianess_kind::little_endian;
    reg.unit.clear();
    reg.representation.reset();
    reg_ref added = add_int_register(writer, reg);

    feature.value = value_ref::link(added.name);
    prop_meta_list::add_vcd_info(feature, placement);
    feature.is_implemented = std::string(is_implemented);
    write_boolean_node(writer, feature);
    return added;
}

std::string write_boolean_node(doc_builder& writer, const boolean_desc& feature)
{
    write_bool_node(writer.register_description(), feature);
    return feature.name;
}

std::error_code append_xml_fragment(doc_builder& writer, std::string_view text)
{
    // The parser ends a text at its first zero byte: what follows would be
    // dropped without a word.
    if (text.find('\0') != std::string_view::npos) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    pugi::xml_document fragment;
    const pugi::xml_parse_result parsed =
        fragment.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    if (!parsed) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    pugi::xml_node parent = writer.register_description();
    if (!parent) {
        return std::make_error_code(std::errc::operation_not_permitted);
    }
    for (pugi::xml_node node : fragment.children()) {
        if (node.type() == pugi::node_element) {
            parent.append_copy(node);
        }
    }
    return {};
}

} // namespace gcxml
