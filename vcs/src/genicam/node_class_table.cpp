// The node factory's element-to-class table.
//
// Adding a node class: include its header below and put
// `&node_class_ops_of<its_class>` into the `ops` column of its row. Nothing
// else in the factory changes: planning, creation, destroy records and the
// node-count report all follow the table.

#include "genicam/node_class_table.h"

#include "genicam/boolean_type.h"
#include "genicam/category_type.h"
#include "genicam/command_type.h"
#include "genicam/converter_type.h"
#include "genicam/enumeration_type.h"
#include "genicam/float_reg_type.h"
#include "genicam/int_reg_type.h"
#include "genicam/integer_pValueCopy_type.h"
#include "genicam/masked_int_reg_type.h"
#include "genicam/numeric_pIndex_type.h"
#include "genicam/numeric_pValue_type.h"
#include "genicam/numeric_value_type.h"
#include "genicam/port_type.h"
#include "genicam/string_reg_type.h"
#include "genicam/string_type.h"
#include "genicam/swissknife_type.h"
#include "genicam/xml_value_readers.h"

#include <cstring>

namespace GenICam::impl {

namespace {

bool has(pugi::xml_node e, const char* name)
{
    return static_cast<bool>(e.child(name));
}

bool has_value(pugi::xml_node e)
{
    return has(e, "Value");
}
bool has_pvalue(pugi::xml_node e)
{
    return has(e, "pValue");
}
bool has_pindex(pugi::xml_node e)
{
    return has(e, "pIndex");
}
bool constant_value(pugi::xml_node e)
{
    return has(e, "Value") && read_imposed_access_mode(e) == access_mode::RO;
}
bool pvalue_with_copies(pugi::xml_node e)
{
    return has(e, "pValue") && has(e, "pValueCopy");
}
bool pvalue_without_copies(pugi::xml_node e)
{
    return has(e, "pValue") && !has(e, "pValueCopy");
}
bool constant_address(pugi::xml_node e)
{
    return has(e, "Address") && !has(e, "pAddress") && !has(e, "IntSwissKnife") && !has(e, "pIndex");
}
bool constant_address_and_length(pugi::xml_node e)
{
    return constant_address(e) && has(e, "Length") && !has(e, "pLength");
}
bool chunk_port(pugi::xml_node e)
{
    return has(e, "ChunkID") || has(e, "pChunkID");
}
bool device_port(pugi::xml_node e)
{
    return !chunk_port(e);
}

using nt = node_type;

// Row order is the dispatch order.
const node_class_row table[] = {
    {"IntConverter", nullptr, "int_converter_type", &node_class_ops_of<int_converter_type>, nt::Integer, true, false},
    {"IntSwissKnife", nullptr, "int_swissknife_type", &node_class_ops_of<int_swissknife_type>, nt::Integer, true, false},
    {"Converter", nullptr, "float_converter_type", &node_class_ops_of<float_converter_type>, nt::Float, true, false},
    {"SwissKnife", nullptr, "float_swissknife_type", &node_class_ops_of<float_swissknife_type>, nt::Float, true, false},
    {"Category", nullptr, "category_type", &node_class_ops_of<category_type>, nt::Category, false, false},
    {"Integer", constant_value, "integer_constant_value_type", &node_class_ops_of<integer_constant_value_type>, nt::Integer, false, false},
    {"Integer", has_value, "integer_floating_value_type", &node_class_ops_of<integer_floating_value_type>, nt::Integer, true, false},
    {"Integer", pvalue_with_copies, "integer_pValueCopy_type", &node_class_ops_of<integer_pValueCopy_type>, nt::Integer, true, false},
    {"Integer", has_pindex, "integer_pIndex_type", &node_class_ops_of<integer_pIndex_type>, nt::Integer, true, false},
    {"Integer", pvalue_without_copies, "integer_pValue_type", &node_class_ops_of<integer_pValue_type>, nt::Integer, false, false},
    {"Float", constant_value, "float_constant_value_type", &node_class_ops_of<float_constant_value_type>, nt::Float, false, false},
    {"Float", has_value, "float_floating_value_type", &node_class_ops_of<float_floating_value_type>, nt::Float, true, false},
    {"Float", has_pindex, "float_pIndex_type", &node_class_ops_of<float_pIndex_type>, nt::Float, true, false},
    {"Float", has_pvalue, "float_pValue_type", &node_class_ops_of<float_pValue_type>, nt::Float, false, false},
    {"Boolean", has_pvalue, "boolean_pValue_type", &node_class_ops_of<boolean_pValue_type>, nt::Boolean, false, false},
    {"Boolean", has_value, "boolean_Value_type", &node_class_ops_of<boolean_Value_type>, nt::Boolean, true, false},
    {"Command", has_value, "command_Value_type", &node_class_ops_of<command_Value_type>, nt::Command, true, false},
    {"Command", has_pvalue, "command_pValue_type", &node_class_ops_of<command_pValue_type>, nt::Command, false, false},
    {"Enumeration", has_value, "enumeration_Value_type", &node_class_ops_of<enumeration_Value_type>, nt::Enumeration, true, false},
    {"Enumeration", has_pvalue, "enumeration_pValue_type", &node_class_ops_of<enumeration_pValue_type>, nt::Enumeration, false, false},
    {"String", nullptr, "string_type", &node_class_ops_of<string_type>, nt::String, true, false},
    {"FloatReg", constant_address_and_length, "float_reg_type_const_address", &node_class_ops_of<float_reg_type_const_address>, nt::Float, true, false},
    {"FloatReg", nullptr, "float_reg_type_dyn", &node_class_ops_of<float_reg_type_dyn>, nt::Float, true, true},
    {"IntReg", constant_address_and_length, "int_reg_type_const_address", &node_class_ops_of<int_reg_type_const_address>, nt::Integer, true, false},
    {"IntReg", nullptr, "int_reg_type_dyn", &node_class_ops_of<int_reg_type_dyn>, nt::Integer, true, true},
    {"Register", nullptr, "register_type", &node_class_ops_of<register_type>, nt::Register, true, true},
    {"MaskedIntReg", constant_address, "masked_int_reg_type_const_address", &node_class_ops_of<masked_int_reg_type_const_address>, nt::Integer, true, true},
    {"MaskedIntReg", nullptr, "masked_int_reg_type_dyn_address", &node_class_ops_of<masked_int_reg_type_dyn_address>, nt::Integer, true, true},
    {"StringReg", nullptr, "string_reg_type", &node_class_ops_of<string_reg_type>, nt::String, true, true},
    {"StructEntry", nullptr, "struct_entry_type", &node_class_ops_of<struct_entry_type>, nt::Integer, true, true},
    {"Port", device_port, "port_device_type", &node_class_ops_of<port_device_type>, nt::Port, false, false},
    {"Port", chunk_port, "port_chunk_type", &node_class_ops_of<port_chunk_type>, nt::Port, false, false},
};

} // namespace

std::span<const node_class_row> node_class_table() noexcept
{
    return table;
}

const node_class_row* select_node_class(pugi::xml_node element)
{
    const char* name = element.name();
    for (const node_class_row& row : table) {
        if (std::strcmp(row.element, name) == 0 && (row.test == nullptr || row.test(element))) {
            return &row;
        }
    }
    return nullptr;
}

const node_class_row& int_swissknife_row() noexcept
{
    return table[1];
}

} // namespace GenICam::impl
