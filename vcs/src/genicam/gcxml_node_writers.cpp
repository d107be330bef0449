#include "genicam/gcxml_node_writers.h"

#include "genicam/gcxml_writer.h"

#include <fmt/format.h>

namespace gcxml {

namespace {

void write_enum_entry_node(pugi::xml_node parent, const enum_entry_desc& desc)
{
    pugi::xml_node element = write_node_common(parent, "EnumEntry", desc);
    if (!element)
        return;
    write_invalidators(element, desc.invalidators);
    write_literal_element(element, "Value", desc.value);
    if (desc.numeric_value) {
        // Fixed six decimals whatever the process locale: a decimal comma
        // would not read back as a number.
        write_text_element(element, "NumericValue", fmt::format("{:.6f}", static_cast<double>(*desc.numeric_value)));
    }
    write_literal_element(element, "Symbolic", desc.symbolic);
    write_yes_no(element, "IsSelfClearing", desc.is_self_clearing);
}

} // namespace

void write_bool_node(pugi::xml_node parent, const boolean_desc& desc)
{
    const auto defaults = make_default_extension(desc.default_text, desc.default_kind, desc.do_not_serialize);
    pugi::xml_node element = write_node_common(parent, "Boolean", desc, defaults);
    if (!element)
        return;
    write_invalidators(element, desc.invalidators);
    write_yes_no(element, "Streamable", desc.streamable);
    write_value_ref(element, "Value", desc.value);
}

void write_int_reg_node(pugi::xml_node parent, const int_reg_desc& desc)
{
    pugi::xml_node element = write_register_common(parent, "IntReg", desc);
    if (!element)
        return;
    if (desc.sign)
        write_text_element(element, "Sign", *desc.sign == sign_kind::is_signed ? "Signed" : "Unsigned");
    write_endianess(element, desc.endianess);
    write_literal_element(element, "Unit", desc.unit);
    write_representation(element, desc.representation);
}

void write_float_reg_node(pugi::xml_node parent, const float_reg_desc& desc)
{
    pugi::xml_node element = write_register_common(parent, "FloatReg", desc);
    if (!element)
        return;
    write_endianess(element, desc.endianess);
    write_representation(element, desc.representation);
    write_display(element, desc.display_notation, desc.display_precision);
}

} // namespace gcxml

namespace genapi_xml_writer {

using namespace gcxml;

namespace {
// Integer and Float nodes share every element up to the representation.
template <typename Desc>
pugi::xml_node write_numeric_node(pugi::xml_node parent, const char* kind, const Desc& desc)
{
    const auto defaults = make_default_extension(desc.default_text, desc.default_kind, desc.do_not_serialize);
    pugi::xml_node element = write_node_common(parent, kind, desc, defaults);
    if (!element)
        return element;
    write_invalidators(element, desc.invalidators);
    write_yes_no(element, "Streamable", desc.streamable);
    write_value_ref(element, "Value", desc.value);
    write_value_ref(element, "Min", desc.min);
    write_value_ref(element, "Max", desc.max);
    write_value_ref(element, "Inc", desc.inc);
    write_literal_element(element, "Unit", desc.unit);
    write_representation(element, desc.representation);
    return element;
}
} // namespace

void write_integer_node(pugi::xml_node parent, const integer_desc& desc)
{
    write_numeric_node(parent, "Integer", desc);
}

void write_float_node(pugi::xml_node parent, const float_desc& desc)
{
    if (pugi::xml_node element = write_numeric_node(parent, "Float", desc))
        write_display(element, desc.display_notation, desc.display_precision);
}

void write_enumeration_node(pugi::xml_node parent, const enumeration_desc& desc)
{
    // An enumeration's default names an entry, never a node: always "Default".
    const auto defaults = make_default_extension(desc.default_text, ref_kind::literal, desc.do_not_serialize);
    pugi::xml_node element = write_node_common(parent, "Enumeration", desc, defaults);
    if (!element)
        return;
    write_invalidators(element, desc.invalidators);
    write_yes_no(element, "Streamable", desc.streamable);
    for (const enum_entry_desc& entry : desc.entries)
        write_enum_entry_node(element, entry);
    write_value_ref(element, "Value", desc.value);
}

void write_int_swissknife_node(pugi::xml_node parent, const int_swissknife_desc& desc)
{
    pugi::xml_node element = write_node_common(parent, "IntSwissKnife", desc);
    if (!element)
        return;
    write_invalidators(element, desc.invalidators);
    write_yes_no(element, "Streamable", desc.streamable);
    write_swissknife_variables(element, "pVariable", desc.variables);
    write_swissknife_variables(element, "Constant", desc.constants);
    write_swissknife_variables(element, "Expression", desc.expressions);
    write_literal_element(element, "Formula", desc.formula);
    write_literal_element(element, "Unit", desc.unit);
    write_representation(element, desc.representation);
}

} // namespace genapi_xml_writer
