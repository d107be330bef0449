#pragma once
// Readers of element texts of a node's XML element. Each looks up the first
// direct child element of its name; absent or empty text gives the reader's
// default silently, a text outside the accepted set gives the default and a
// level-1 message. Comparisons are exact and case-sensitive, without trimming.

#include "genicam/genicam_types.h"

#include <pugixml.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

namespace GenICam::impl {

// Text of the first child element named `name` (pugixml's child_value):
// empty when absent. A view into the document's XML text.
inline std::string_view child_text(pugi::xml_node element, const char* name) noexcept
{
    return element.child(name).child_value();
}

inline bool has_child(pugi::xml_node element, const char* name) noexcept
{
    return static_cast<bool>(element.child(name));
}

display_notation read_display_notation(pugi::xml_node element);
float_representation read_float_representation(pugi::xml_node element);
integer_representation read_integer_representation(pugi::xml_node element);
// Absent or empty 6; a readable prefix is enough ("3 digits" gives 3).
std::int32_t read_display_precision(pugi::xml_node element);
access_mode read_imposed_access_mode(pugi::xml_node element);
access_mode read_access_mode(pugi::xml_node element);
// True for big endian (also when absent).
bool read_endianess(pugi::xml_node element);
cache_mode read_cachable(pugi::xml_node element, cache_mode fallback);
// True for unsigned (also when absent).
bool read_sign(pugi::xml_node element);
// A value 0 or above; none when absent, negative or unreadable.
std::optional<std::int64_t> read_polling_time(pugi::xml_node element);
// "None" 0, "IIDC" 1, "GEV" 2, "CL" 3, "U3V" 4, "CXP" 5, "CLHS" 6; none otherwise.
std::optional<std::uint32_t> parse_standard_name_space(std::string_view text) noexcept;

} // namespace GenICam::impl
