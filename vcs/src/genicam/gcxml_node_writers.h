#pragma once
// Element writers: each appends one GenApi node element, written from its
// description record, as the last child of parent (the RegisterDescription
// element of the document under construction). Children come in the fixed
// order that readers of these documents expect.

#include "genicam/gcxml_records.h"

#include <pugixml.hpp>

namespace gcxml {

void write_bool_node(pugi::xml_node parent, const boolean_desc& desc);

// Registers are normally added through doc_builder, which assigns the
// address first; these write the record's address as it stands.
void write_int_reg_node(pugi::xml_node parent, const int_reg_desc& desc);
void write_float_reg_node(pugi::xml_node parent, const float_reg_desc& desc);

} // namespace gcxml

namespace genapi_xml_writer {

void write_integer_node(pugi::xml_node parent, const gcxml::integer_desc& desc);
void write_float_node(pugi::xml_node parent, const gcxml::float_desc& desc);
// The Enumeration element with one EnumEntry child per entry, in list order.
void write_enumeration_node(pugi::xml_node parent, const gcxml::enumeration_desc& desc);
void write_int_swissknife_node(pugi::xml_node parent, const gcxml::int_swissknife_desc& desc);

} // namespace genapi_xml_writer
