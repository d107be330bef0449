#pragma once
// The service's own GenApi documents: a builder holds one document while the
// feature builders add nodes to it, hands out the addresses of the registers
// behind those nodes, and finally renders the document as text.
//
// Calling order: build_document once, any number of node additions in the
// order the nodes are to appear, write_register_description once.

#include "genicam/gcxml_records.h"

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace gcxml {

struct register_description_doc {
    pugi::xml_document document;
    // The RegisterDescription element; empty until build_document has run.
    pugi::xml_node register_description;
};

// Collects what the XML library prints.
class xml_string_writer final : public pugi::xml_writer {
public:
    void write(const void* data, std::size_t size) override;

    const std::string& str() const noexcept { return text_; }

private:
    std::string text_;
};

// A register that a builder added: its name and address.
struct reg_ref {
    std::string name;
    std::uint64_t address = 0;
};

struct doc_builder {
    explicit doc_builder(std::uint64_t start_address) noexcept : last_address(start_address) {}

    // Writes a register as the last child of RegisterDescription. A record
    // with address 0 gets last_address + 8 (and moves the counter there); any
    // other address is kept and leaves the counter alone. The caller's record
    // is not changed. Returns the register's name and address.
    std::pair<std::string, std::uint64_t> add_int_reg(const int_reg_desc& desc);
    std::pair<std::string, std::uint64_t> add_float_reg(const float_reg_desc& desc);

    // Parent for the element writers; empty before build_document.
    pugi::xml_node register_description() const noexcept;

    // The last register address handed out.
    std::uint64_t last_address;
    // Kept for the feature builders; the builder itself does not use it.
    std::string text;
    std::unique_ptr<register_description_doc> doc;

private:
    std::uint64_t next_address(std::uint64_t requested) noexcept;
};

// Creates an empty document with its declaration and RegisterDescription root
// into slot. On std::bad_alloc the slot is left empty and the exception
// propagates.
void build_document(std::unique_ptr<register_description_doc>& slot);

// Adds the root's attributes and the "Device" port, and returns the document
// as UTF-8 text (tab-indented, one node per line, no byte-order mark). The
// document stays in the slot. An empty slot gives an empty text.
std::string write_register_description(const std::unique_ptr<register_description_doc>& doc,
                                       std::string_view vendor_name, std::string_view model_name,
                                       std::string_view tool_tip);

// The same operations under the names the device set-up uses.
reg_ref add_int_register(doc_builder& builder, const int_reg_desc& desc);
reg_ref add_float_register(doc_builder& builder, const float_reg_desc& desc);

} // namespace gcxml
