#pragma once
// Texts that a user types into a value field: what the slider controllers
// accept as a number, and how they show one. The pages run inside another
// program, which may have set a locale with a decimal comma: nothing here
// depends on the process locale.

#include <cstdint>
#include <string>
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

// The number at the start of `text`, as the C library's "%lf" reads it in the
// "C" locale, with a comma or a full stop as the decimal mark: "6,5" and
// "6.5" both read as 6.5; what follows the number is ignored. `value` is
// written only on success (a NaN or an infinity also reads).
bool parse_decimal_text(std::wstring_view text, double& value);

// `value` with `decimals` digits after a full stop ("%.3f" in the "C"
// locale).
std::string fixed_point_text(double value, int decimals);

} // namespace VCDAdapterHelper
