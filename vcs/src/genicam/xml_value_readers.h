#pragma once
// Readers of element texts of a node's XML element. Each reads the first
// direct child element of its name; absent or empty text gives the reader's
// default silently, a text outside the accepted set gives the default and a
// level-1 message. Comparisons are exact and case-sensitive, without trimming.

#include "genicam/element_children.h"
#include "genicam/genicam_types.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace GenICam::impl {

display_notation read_display_notation(const element_children& children);
float_representation read_float_representation(const element_children& children);
integer_representation read_integer_representation(const element_children& children);
// Absent or empty 6; a readable prefix is enough ("3 digits" gives 3).
std::int32_t read_display_precision(const element_children& children);
access_mode read_imposed_access_mode(const element_children& children);
access_mode read_access_mode(const element_children& children);
// True for big endian (also when absent).
bool read_endianess(const element_children& children);
cache_mode read_cachable(const element_children& children, cache_mode fallback);
// True for unsigned (also when absent).
bool read_sign(const element_children& children);
// A value 0 or above; none when absent, negative or unreadable.
std::optional<std::int64_t> read_polling_time(const element_children& children);
// "None" 0, "IIDC" 1, "GEV" 2, "CL" 3, "U3V" 4, "CXP" 5, "CLHS" 6; none otherwise.
std::optional<std::uint32_t> parse_standard_name_space(std::string_view text) noexcept;

} // namespace GenICam::impl
