#include "genicam/gcxml_writer.h"

#include "genicam/gcxml_text.h"

#include <fmt/format.h>

#include <array>
#include <type_traits>

namespace gcxml {

namespace {

// Texts of the enumerators, indexed by value. A value outside a table writes
// an empty text.
constexpr std::array<std::string_view, 3> merge_priority_texts{"-1", "0", "+1"};
constexpr std::array<std::string_view, 2> yes_no_texts{"Yes", "No"};
constexpr std::array<std::string_view, 4> visibility_texts{"Beginner", "Expert", "Guru", "Invisible"};
constexpr std::array<std::string_view, 3> access_mode_texts{"RW", "RO", "WO"};
constexpr std::array<std::string_view, 2> endianess_texts{"LittleEndian", "BigEndian"};
constexpr std::array<std::string_view, 3> cachable_texts{"WriteThrough", "WriteAround", "NoCache"};
constexpr std::array<std::string_view, 7> int_representation_texts{
    "Linear", "Logarithmic", "Boolean", "PureNumber", "HexNumber", "IPV4Address", "MACAddress"};
constexpr std::array<std::string_view, 3> float_representation_texts{"Linear", "Logarithmic", "PureNumber"};
constexpr std::array<std::string_view, 3> display_notation_texts{"Automatic", "Fixed", "Scientific"};

template <typename Enum, std::size_t N>
std::string_view text_of(const std::array<std::string_view, N>& table, Enum value) noexcept
{
    const auto raw = static_cast<std::underlying_type_t<Enum>>(value);
    if constexpr (std::is_signed_v<decltype(raw)>) {
        if (raw < 0)
            return {};
    }
    if (static_cast<std::uint64_t>(raw) >= N)
        return {};
    return table[static_cast<std::size_t>(raw)];
}

std::string_view yes_no_text(yes_no value) noexcept
{
    return value == yes_no::yes ? yes_no_texts[0] : yes_no_texts[1];
}

// Applies set(data, size) to text, repaired first when it is not clean UTF-8.
template <typename Setter>
void set_clean(std::string_view text, Setter&& set)
{
    if (is_clean_utf8(text)) {
        set(text.data(), text.size());
    } else {
        const std::string repaired = repair_utf8(text);
        set(repaired.data(), repaired.size());
    }
}

} // namespace

void append_attribute(pugi::xml_node element, const char* name, std::string_view value)
{
    pugi::xml_attribute attribute = element.append_attribute(name);
    if (!attribute)
        return;
    set_clean(value, [&](const char* data, std::size_t size) { attribute.set_value(data, size); });
}

pugi::xml_node write_text_element(pugi::xml_node parent, const char* name, std::string_view text)
{
    pugi::xml_node element = parent.append_child(name);
    if (!element)
        return element;
    set_clean(text, [&](const char* data, std::size_t size) { element.text().set(data, size); });
    return element;
}

std::string link_name(const char* base_name)
{
    std::string name;
    name.reserve(std::char_traits<char>::length(base_name) + 1);
    name += 'p';
    name += base_name;
    return name;
}

void write_link_element(pugi::xml_node parent, const char* base_name, std::string_view node_name)
{
    if (node_name.empty())
        return;
    write_text_element(parent, link_name(base_name).c_str(), node_name);
}

void write_literal_element(pugi::xml_node parent, const char* name, std::string_view value)
{
    if (value.empty())
        return;
    write_text_element(parent, name, value);
}

void write_value_ref(pugi::xml_node parent, const char* base_name, const value_ref& value)
{
    switch (value.kind) {
    case ref_kind::none:
        return;
    case ref_kind::link:
        write_link_element(parent, base_name, value.text);
        return;
    default:
        write_literal_element(parent, base_name, value.text);
        return;
    }
}

void write_invalidators(pugi::xml_node parent, const std::vector<std::string>& invalidators)
{
    for (const std::string& name : invalidators)
        write_text_element(parent, "pInvalidator", name);
}

void write_yes_no(pugi::xml_node parent, const char* name, const std::optional<yes_no>& value)
{
    if (value)
        write_text_element(parent, name, yes_no_text(*value));
}

void write_representation(pugi::xml_node parent, const std::optional<int_representation>& value)
{
    if (value)
        write_text_element(parent, "Representation", text_of(int_representation_texts, *value));
}

void write_representation(pugi::xml_node parent, const std::optional<float_representation>& value)
{
    if (value)
        write_text_element(parent, "Representation", text_of(float_representation_texts, *value));
}

void write_endianess(pugi::xml_node parent, endianess_kind value)
{
    write_text_element(parent, "Endianess", text_of(endianess_texts, value));
}

void write_display(pugi::xml_node parent, const std::optional<display_notation_kind>& notation,
                   const std::optional<std::int64_t>& precision)
{
    if (notation)
        write_text_element(parent, "DisplayNotation", text_of(display_notation_texts, *notation));
    if (precision)
        write_text_element(parent, "DisplayPrecision", fmt::format("{}", *precision));
}

void write_swissknife_variables(pugi::xml_node parent, const char* element_name,
                                const std::vector<named_text>& entries)
{
    for (const named_text& entry : entries) {
        if (entry.text.empty())
            continue;
        pugi::xml_node element = write_text_element(parent, element_name, entry.text);
        append_attribute(element, "Name", entry.name);
    }
}

std::vector<extension_entry> make_default_extension(std::string_view default_text, ref_kind default_kind,
                                                    bool do_not_serialize)
{
    std::vector<extension_entry> entries;
    if (default_kind != ref_kind::none && !default_text.empty())
        entries.push_back({default_kind == ref_kind::link ? "pDefault" : "Default", std::string(default_text)});
    if (do_not_serialize)
        entries.push_back({"DoNotSerialize", "1"});
    return entries;
}

pugi::xml_node write_node_common(pugi::xml_node parent, const char* element_name, const node_desc& desc,
                                 const std::vector<extension_entry>& extra)
{
    pugi::xml_node element = parent.append_child(element_name);
    if (!element)
        return element;

    append_attribute(element, "Name", desc.name);
    if (!desc.name_space.empty())
        append_attribute(element, "NameSpace", desc.name_space);
    if (desc.merge_priority)
        append_attribute(element, "MergePriority", text_of(merge_priority_texts, *desc.merge_priority));
    if (desc.expose_static)
        append_attribute(element, "ExposeStatic", yes_no_text(*desc.expose_static));

    if (!desc.extensions.empty() || !extra.empty()) {
        pugi::xml_node extension = element.append_child("Extension");
        // An entry name becomes an element name, which cannot hold every text.
        for (const auto* list : {&desc.extensions, &extra}) {
            for (const extension_entry& entry : *list)
                write_text_element(extension, to_element_name(entry.name).c_str(), entry.text);
        }
    }

    const struct {
        const char* element;
        const std::string& text;
    } texts[] = {
        {"ToolTip", desc.tool_tip},
        {"Description", desc.description},
        {"DisplayName", desc.display_name},
    };
    for (const auto& t : texts) {
        if (!t.text.empty())
            write_text_element(element, t.element, t.text);
    }
    if (desc.visibility)
        write_text_element(element, "Visibility", text_of(visibility_texts, *desc.visibility));
    if (!desc.docu_url.empty())
        write_text_element(element, "DocuURL", desc.docu_url);
    write_yes_no(element, "IsDeprecated", desc.is_deprecated);

    const struct {
        const char* base;
        const std::string& node;
    } links[] = {
        {"IsImplemented", desc.is_implemented},
        {"IsAvailable", desc.is_available},
        {"IsLocked", desc.is_locked},
    };
    for (const auto& l : links)
        write_link_element(element, l.base, l.node);
    if (desc.imposed_access_mode)
        write_text_element(element, "ImposedAccessMode", text_of(access_mode_texts, *desc.imposed_access_mode));
    return element;
}

pugi::xml_node write_register_common(pugi::xml_node parent, const char* element_name, const register_desc& desc)
{
    pugi::xml_node element = write_node_common(parent, element_name, desc);
    if (!element)
        return element;
    write_yes_no(element, "Streamable", desc.streamable);
    write_text_element(element, "Address", format_address(desc.address));
    write_value_ref(element, "Length", desc.length);
    write_text_element(element, "AccessMode", text_of(access_mode_texts, desc.access_mode));
    write_text_element(element, "pPort", desc.port.empty() ? std::string_view("Device") : desc.port);
    if (desc.cachable)
        write_text_element(element, "Cachable", text_of(cachable_texts, *desc.cachable));
    write_invalidators(element, desc.invalidators);
    return element;
}

std::string format_address(std::uint64_t address)
{
    // Spelled out rather than left to a printf length modifier, whose meaning
    // for 64-bit values differs between C runtimes.
    return fmt::format("0x{:X}", address);
}

} // namespace gcxml
