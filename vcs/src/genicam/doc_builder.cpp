#include "genicam/doc_builder.h"

#include "genicam/gcxml_node_writers.h"
#include "genicam/gcxml_writer.h"

namespace gcxml {

namespace {

struct root_attribute {
    const char* name;
    std::string_view value;
};

constexpr std::string_view genapi_namespace = "http://www.genicam.org/GenApi/Version_1_1";
constexpr std::string_view schema_instance_namespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view schema_location =
    "http://www.genicam.org/GenApi/Version_1_1 http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd";

} // namespace

void xml_string_writer::write(const void* data, std::size_t size)
{
    text_.append(static_cast<const char*>(data), size);
}

std::uint64_t doc_builder::next_address(std::uint64_t requested) noexcept
{
    if (requested != 0)
        return requested;
    // Registers are 8 apart whatever their length.
    last_address += 8;
    return last_address;
}

std::pair<std::string, std::uint64_t> doc_builder::add_int_reg(const int_reg_desc& desc)
{
    int_reg_desc copy = desc;
    copy.address = next_address(copy.address);
    write_int_reg_node(register_description(), copy);
    return {std::move(copy.name), copy.address};
}

std::pair<std::string, std::uint64_t> doc_builder::add_float_reg(const float_reg_desc& desc)
{
    float_reg_desc copy = desc;
    copy.address = next_address(copy.address);
    write_float_reg_node(register_description(), copy);
    return {std::move(copy.name), copy.address};
}

pugi::xml_node doc_builder::register_description() const noexcept
{
    return doc ? doc->register_description : pugi::xml_node();
}

void build_document(std::unique_ptr<register_description_doc>& slot)
{
    slot.reset();
    auto doc = std::make_unique<register_description_doc>();
    pugi::xml_node declaration = doc->document.append_child(pugi::node_declaration);
    declaration.set_name("xml");
    append_attribute(declaration, "version", "1.0");
    doc->register_description = doc->document.append_child("RegisterDescription");
    slot = std::move(doc);
}

std::string write_register_description(const std::unique_ptr<register_description_doc>& doc,
                                       std::string_view vendor_name, std::string_view model_name,
                                       std::string_view tool_tip)
{
    if (!doc)
        return {};
    pugi::xml_node root = doc->register_description;
    const root_attribute attributes[] = {
        {"ModelName", model_name},
        {"VendorName", vendor_name},
        {"ToolTip", tool_tip},
        {"SchemaMajorVersion", "1"},
        {"SchemaMinorVersion", "1"},
        {"SchemaSubMinorVersion", "0"},
        {"MajorVersion", "1"},
        {"MinorVersion", "0"},
        {"SubMinorVersion", "0"},
        {"ProductGuid", "BA6EF337-D2B4-43C2-8C12-8D6FF2D399AD"},
        {"VersionGuid", "763b3ed5-8038-4da0-b14f-e41b7589e4f3"},
        {"StandardNameSpace", "GEV"},
        {"xmlns", genapi_namespace},
        {"xmlns:xsi", schema_instance_namespace},
        {"xsi:schemaLocation", schema_location},
    };
    for (const root_attribute& a : attributes)
        append_attribute(root, a.name, a.value);

    // The port that every register's pPort names by default.
    append_attribute(root.append_child("Port"), "Name", "Device");

    xml_string_writer writer;
    doc->document.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    return writer.str();
}

reg_ref add_int_register(doc_builder& builder, const int_reg_desc& desc)
{
    auto [name, address] = builder.add_int_reg(desc);
    return {std::move(name), address};
}

reg_ref add_float_register(doc_builder& builder, const float_reg_desc& desc)
{
    auto [name, address] = builder.add_float_reg(desc);
    return {std::move(name), address};
}

} // namespace gcxml
