#pragma once
// Readers of numeric texts in descriptions. They never throw, never depend on
// the process locale, and report what they consumed: an empty view means
// nothing could be read.

#include "genicam/eval_number.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace GenICam::impl {

struct parsed_integer {
    std::int64_t value = 0;
    std::string_view consumed;
    bool ok() const noexcept { return !consumed.empty(); }
};

struct parsed_float {
    double value = 0.0;
    std::string_view consumed;
    bool ok() const noexcept { return !consumed.empty(); }
};

struct parsed_number {
    eval_number value;
    std::string_view consumed;
};

// Blanks and "+" skipped, each "-" flips the sign, then decimal digits or
// "0x"/"0X" and hexadecimal digits; wraps silently on overflow.
parsed_integer parse_integer_text(std::string_view text) noexcept;

// As parse_integer_text, hexadecimal digits only and no prefix.
parsed_integer parse_hex_text(std::string_view text) noexcept;

// Leading blanks, a sign, decimal or "0x" hexadecimal digits with fraction
// and exponent, "inf"/"infinity"/"nan"; the rest of the text is ignored.
// Magnitudes past the double range read as infinity, tiny ones as zero.
parsed_float parse_float_text(std::string_view text) noexcept;

// An integer (12, 0x1F) or, when ".", "e" or "E" follows the digits, a
// double (1.5, 2e3). Nothing readable gives none.
std::optional<parsed_number> parse_number_literal(std::string_view text) noexcept;

} // namespace GenICam::impl
