#pragma once
// Making the node descriptions of the service's own GenICam document, and the
// composite steps that add a feature together with the register behind it.
// The records are those the document writer reads (genicam/gcxml_records.h);
// the writer is genicam/doc_builder.h.

#include "genicam/doc_builder.h"
#include "genicam/gcxml_records.h"
#include "properties/vcd_info.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace gcxml {

// Sets the name and clears every other field of the common part; the fields
// of a derived record are left as they are.
void gen_node_desc_init(node_desc& record, std::string name);

// A 4-byte read-write register on the port "Device" whose address the writer
// assigns: common part as gen_node_desc_init, Length "4", no Streamable, no
// Cachable, no invalidators.
void gen_node_desc_create(register_desc& record, std::string name);

// A Boolean whose Value and Default are the decimal texts of the two bytes,
// both literals; no invalidators, no Streamable, serialised.
void make_boolean_desc(boolean_desc& record, std::string name, std::uint8_t value, std::uint8_t default_value);

// The name of the register that holds a feature's value: name + "_Reg".
std::string gen_node_desc_reg_name(const node_desc& record);

// Adds the little-endian IntReg "<feature>_Reg" (address assigned by the
// writer), points the feature's value at it, appends the placement's
// metadata, sets pIsImplemented to is_implemented (empty: none) and writes the
// feature as a Boolean node. The register's address, low 32 bits, is the id
// under which the caller registers the handler that backs it.
reg_ref add_boolean_register_feature(doc_builder& writer, boolean_desc& feature, const vcd_info& placement,
                                     std::string_view is_implemented);

// Writes the feature as a Boolean node; returns its name.
std::string write_boolean_node(doc_builder& writer, const boolean_desc& feature);

// Appends the node elements of a hand-written GenApi fragment (one or more
// complete elements, no root) under the writer's RegisterDescription.
// invalid_argument when the text does not parse or holds a zero byte
// (nothing appended);
// operation_not_permitted when the writer holds no document yet.
std::error_code append_xml_fragment(doc_builder& writer, std::string_view text);

} // namespace gcxml
