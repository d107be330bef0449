#include "genicam/xml_value_readers.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"

#include <initializer_list>

namespace GenICam::impl {

namespace {

struct text_code {
    std::string_view text;
    std::uint8_t code;
};

// Looks the element's text up in the table. Absent/empty: fallback without a
// message; unknown: the message (with the text) and the fallback.
std::uint8_t read_enumerated(const element_children& children, child_key key, std::initializer_list<text_code> table,
                             std::uint8_t fallback, const char* message)
{
    const std::string_view text = children.text(key);
    if (text.empty()) {
        return fallback;
    }
    for (const text_code& entry : table) {
        if (entry.text == text) {
            return entry.code;
        }
    }
    GENICAM_LOG(1, message, static_cast<int>(text.size()), text.data());
    return fallback;
}

} // namespace

display_notation read_display_notation(const element_children& children)
{
    return static_cast<display_notation>(
        read_enumerated(children, "DisplayNotation", {{"Automatic", 0}, {"Fixed", 1}, {"Scientific", 2}}, 0,
                        "Invalid contents (\"%.*s\") of \"DisplayNotation\" xml node.\n"));
}

float_representation read_float_representation(const element_children& children)
{
    return static_cast<float_representation>(
        read_enumerated(children, "Representation", {{"Linear", 0}, {"Logarithmic", 1}, {"PureNumber", 2}}, 2,
                        "Invalid contents (\"%.*s\") of Float \"Representation\" xml node.\n"));
}

integer_representation read_integer_representation(const element_children& children)
{
    return static_cast<integer_representation>(read_enumerated(
        children, "Representation",
        {{"Linear", 0}, {"Logarithmic", 1}, {"Boolean", 2}, {"PureNumber", 3}, {"HexNumber", 4},
         {"IPV4Address", 5}, {"MACAddress", 6}},
        3, "Invalid contents (\"%.*s\") of Integer \"Representation\" xml node.\n"));
}

std::int32_t read_display_precision(const element_children& children)
{
    const std::string_view text = children.text("DisplayPrecision");
    if (text.empty()) {
        return 6;
    }
    const parsed_integer parsed = parse_integer_text(text);
    if (parsed.ok()) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(parsed.value)));
    }
    GENICAM_LOG(1, "Invalid contents (\"%.*s\") of \"DisplayPrecision\" xml node.\n", static_cast<int>(text.size()),
                text.data());
    return 6;
}

access_mode read_imposed_access_mode(const element_children& children)
{
    return static_cast<access_mode>(read_enumerated(children, "ImposedAccessMode",
                                                    {{"RW", 0}, {"RO", 1}, {"WO", 2}}, 0,
                                                    "Invalid contents of \"ImposedAccessMode\" node (\"%.*s\"\n"));
}

access_mode read_access_mode(const element_children& children)
{
    return static_cast<access_mode>(read_enumerated(children, "AccessMode", {{"RW", 0}, {"RO", 1}, {"WO", 2}}, 0,
                                                    "Invalid contents of \"AccessMode\" node (\"%.*s\"\n"));
}

bool read_endianess(const element_children& children)
{
    return read_enumerated(children, "Endianess", {{"BigEndian", 1}, {"LittleEndian", 0}}, 1,
                           "Invalid contents of \"Endianess\" node (\"%.*s\"\n") != 0;
}

cache_mode read_cachable(const element_children& children, cache_mode fallback)
{
    return static_cast<cache_mode>(read_enumerated(children, "Cachable",
                                                   {{"WriteThrough", 0}, {"WriteAround", 1}, {"NoCache", 2}},
                                                   static_cast<std::uint8_t>(fallback),
                                                   "Invalid contents of \"Cachable\" node (\"%.*s\"\n"));
}

bool read_sign(const element_children& children)
{
    return read_enumerated(children, "Sign", {{"Signed", 0}, {"Unsigned", 1}}, 1,
                           "Invalid contents of \"Sign\" node (\"%.*s\"\n") != 0;
}

std::optional<std::int64_t> read_polling_time(const element_children& children)
{
    const std::string_view text = children.text("PollingTime");
    if (text.empty()) {
        return std::nullopt;
    }
    const parsed_integer parsed = parse_integer_text(text);
    if (!parsed.ok() || parsed.value < 0) {
        return std::nullopt;
    }
    return parsed.value;
}

std::optional<std::uint32_t> parse_standard_name_space(std::string_view text) noexcept
{
    constexpr std::string_view names[] = {"None", "IIDC", "GEV", "CL", "U3V", "CXP", "CLHS"};
    for (std::uint32_t i = 0; i < std::size(names); ++i) {
        if (names[i] == text) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace GenICam::impl
