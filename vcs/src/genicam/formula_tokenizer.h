#pragma once
// Splits a formula text into tokens. Works on views of the text: neither a
// name nor a number is ever copied.

#include "genicam/formula_functions.h"
#include "genicam/formula_value.h"

#include <cstdint>
#include <string_view>

namespace genicam::formula {

enum end_reason : std::uint32_t {
    end_of_text = 1,
    invalid_character = 2,
};

struct formula_token {
    std::uint32_t kind = tk_end;       // token_code
    formula_value number;              // tk_number
    std::string_view name;             // tk_name, tk_function (without the "(")
    std::uint32_t reason = end_of_text; // tk_end
    std::string_view text;             // the text from the token on
    std::string_view rest;             // the text after the token
};

formula_token next_token(std::string_view text) noexcept;
// The same, written into `token` (which may hold the token before `text`):
// the parser reads a formula's tokens one after the other into one place.
void read_token(std::string_view text, formula_token& token) noexcept;

// A number literal at the start of the text: decimal digits, or "0x"/"0X" and
// hexadecimal digits, give an integer (wrapping on overflow); digits followed
// by ".", "e" or "E" are read as a double. Returns the number of
// characters consumed, 0 when the text does not begin with a number.
std::size_t read_number_literal(std::string_view text, formula_value& value) noexcept;

} // namespace genicam::formula
