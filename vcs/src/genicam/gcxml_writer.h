#pragma once
// Shared steps of the GenApi element writers. Each appends to an element of
// a document under construction; none checks names, links or values. On an
// empty element handle (the XML library could not allocate it) every step
// does nothing, so a part that could not be allocated is simply missing.

#include "genicam/gcxml_records.h"

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace gcxml {

// Appends the attribute after those already present.
void append_attribute(pugi::xml_node element, const char* name, std::string_view value);

// Appends a child element whose single text child holds text (also an empty one).
pugi::xml_node write_text_element(pugi::xml_node parent, const char* name, std::string_view text);

// The name of the link form of an element: "p" + base name.
std::string link_name(const char* base_name);

// The two forms of a value_ref; each writes nothing when its text is empty.
void write_link_element(pugi::xml_node parent, const char* base_name, std::string_view node_name);
void write_literal_element(pugi::xml_node parent, const char* name, std::string_view value);

// A value_ref: the link form for kind link, nothing for kind none, the
// literal form otherwise.
void write_value_ref(pugi::xml_node parent, const char* base_name, const value_ref& value);

// One pInvalidator per entry, in order, empty entries included.
void write_invalidators(pugi::xml_node parent, const std::vector<std::string>& invalidators);

// The yes_no text of a Streamable, IsDeprecated or IsSelfClearing element.
void write_yes_no(pugi::xml_node parent, const char* name, const std::optional<yes_no>& value);

// A Representation element, when present.
void write_representation(pugi::xml_node parent, const std::optional<int_representation>& value);
void write_representation(pugi::xml_node parent, const std::optional<float_representation>& value);

// Endianess, always written: "LittleEndian", "BigEndian", or an empty text.
void write_endianess(pugi::xml_node parent, endianess_kind value);

// DisplayNotation and DisplayPrecision of Float and FloatReg, when present.
void write_display(pugi::xml_node parent, const std::optional<display_notation_kind>& notation,
                   const std::optional<std::int64_t>& precision);

// One element per entry named element_name, text = the entry's text, with the
// attribute Name = the entry's name; an entry with an empty text writes nothing.
void write_swissknife_variables(pugi::xml_node parent, const char* element_name,
                                const std::vector<named_text>& entries);

// The Extension entries that carry a node's default: "pDefault" (kind link)
// or "Default" (any other kind but none) when the text is not empty, then
// "DoNotSerialize" = "1" when the flag is set.
std::vector<extension_entry> make_default_extension(std::string_view default_text, ref_kind default_kind,
                                                    bool do_not_serialize);

// Appends the element for a node and writes what every node carries: the
// Name, NameSpace, MergePriority and ExposeStatic attributes, Extension (the
// record's entries, then the extra ones), then ToolTip through
// ImposedAccessMode. Returns the new element.
pugi::xml_node write_node_common(pugi::xml_node parent, const char* element_name, const node_desc& desc,
                                 const std::vector<extension_entry>& extra = {});

// The common part of a register (no extra entries), then Streamable,
// Address, Length/pLength, AccessMode, pPort, Cachable and pInvalidator*.
pugi::xml_node write_register_common(pugi::xml_node parent, const char* element_name,
                                     const register_desc& desc);

// An address as written in Address: "0x" and upper-case hexadecimal digits
// without leading zeros.
std::string format_address(std::uint64_t address);

} // namespace gcxml
