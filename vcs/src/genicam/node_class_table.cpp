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

#include <array>
#include <iterator>


namespace GenICam::impl {

namespace {

bool has_value(const element_children& e)
{
    return e.has("Value");
}
bool has_pvalue(const element_children& e)
{
    return e.has("pValue");
}
bool has_pindex(const element_children& e)
{
    return e.has("pIndex");
}
bool constant_value(const element_children& e)
{
    return e.has("Value") && read_imposed_access_mode(e) == access_mode::RO;
}
bool pvalue_with_copies(const element_children& e)
{
    return e.has("pValue") && e.has("pValueCopy");
}
bool pvalue_without_copies(const element_children& e)
{
    return e.has("pValue") && !e.has("pValueCopy");
}
bool constant_address(const element_children& e)
{
    return e.has("Address") && !e.has("pAddress") && !e.has("IntSwissKnife") && !e.has("pIndex");
}
bool constant_address_and_length(const element_children& e)
{
    return constant_address(e) && e.has("Length") && !e.has("pLength");
}
bool chunk_port(const element_children& e)
{
    return e.has("ChunkID") || e.has("pChunkID");
}
bool device_port(const element_children& e)
{
    return !chunk_port(e);
}

using nt = node_type;

// Row order is the dispatch order.
constexpr node_class_row table[] = {
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

// Rows of one element name lie together: dispatch scans from the first of
// them to the last.
constexpr bool rows_grouped_by_element() noexcept
{
    for (std::size_t i = 0; i < std::size(table); ++i) {
        for (std::size_t j = i + 2; j < std::size(table); ++j) {
            if (table[j].element == table[i].element && table[j - 1].element != table[i].element) {
                return false;
            }
        }
    }
    return true;
}
static_assert(rows_grouped_by_element(), "keep the rows of one element name together");

// The first row of each element name, so that dispatch starts there.
constexpr std::array<std::uint8_t, 256> make_first_rows() noexcept
{
    std::array<std::uint8_t, 256> first{};
    first.fill(static_cast<std::uint8_t>(std::size(table)));
    for (std::size_t i = std::size(table); i-- > 0;) {
        first[table[i].element.index()] = static_cast<std::uint8_t>(i);
    }
    return first;
}

const node_class_row* select_node_class(std::uint8_t element_key, const element_children& children)
{
    static constexpr std::array<std::uint8_t, 256> first_rows = make_first_rows();
    static_assert(std::size(table) < 256);
    for (std::size_t i = first_rows[element_key]; i < std::size(table) && table[i].element.index() == element_key; ++i) {
        if (table[i].test == nullptr || table[i].test(children)) {
            return &table[i];
        }
    }
    return nullptr;
}

const node_class_row& int_swissknife_row() noexcept
{
    return table[1];
}

} // namespace GenICam::impl
