#pragma once
// Texts that a user types into a value field: what the slider controllers
// accept as a number.

#include <cstdint>
#include <string_view>

namespace VCDAdapterHelper {

// White space trimmed at both ends; then, when the text ends with `unit`, the
// unit and the white space before it are removed. An empty unit removes
// nothing more.
std::wstring_view trim_value_text(std::wstring_view text, std::wstring_view unit) noexcept;

// A decimal integer that reads back as exactly the same text: "12" and "-5"
// succeed; "12a", "012", "+1", "" and numbers outside 32 bits fail. `value`
// is written only on success.
bool parse_int_strict(std::wstring_view text, std::int32_t& value) noexcept;

} // namespace VCDAdapterHelper
