#include "genicam/formula_tokenizer.h"

#include <array>
#include <cstdlib>
#include <string>

namespace genicam::formula {
namespace {

bool is_blank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_char(char c) noexcept { return is_letter(c) || is_digit(c) || c == '_' || c == '.'; }

int hex_digit(char c) noexcept
{
    if (is_digit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct fixed_operator {
    std::string_view text;
    std::uint32_t code;
};

constexpr std::array<fixed_operator, 8> two_char_operators{{
    {"**", tk_power},
    {">>", tk_shift_right},
    {"<<", tk_shift_left},
    {">=", tk_greater_equal},
    {"<=", tk_less_equal},
    {"<>", tk_not_equal},
    {"&&", tk_logical_and},
    {"||", tk_logical_or},
}};

constexpr std::array<fixed_operator, 17> one_char_operators{{
    {"(", tk_open},     {")", tk_close},     {">", tk_greater}, {"<", tk_less},     {"=", tk_equal},
    {"%", tk_remainder}, {"*", tk_multiply}, {"/", tk_divide},  {"+", tk_plus},     {"-", tk_minus},
    {"&", tk_bit_and},  {"|", tk_bit_or},    {"^", tk_bit_xor}, {"~", tk_complement}, {"?", tk_question},
    {":", tk_colon},    {",", tk_comma},
}};

// The characters strtod may take for a literal that starts with digits: hex
// digits, letters of exponents and prefixes, the point, and a sign right
// after an exponent letter. Only this run is copied, never the whole rest of
// the formula.
std::size_t float_candidate_length(std::string_view text) noexcept
{
    std::size_t n = 0;
    while (n < text.size()) {
        const char c = text[n];
        const bool sign_after_exponent =
            (c == '+' || c == '-') && n > 0 &&
            (text[n - 1] == 'e' || text[n - 1] == 'E' || text[n - 1] == 'p' || text[n - 1] == 'P');
        if (!(is_name_char(c) && c != '_') && !sign_after_exponent) {
            break;
        }
        ++n;
    }
    return n;
}

} // namespace

std::size_t read_number_literal(std::string_view text, formula_value& value) noexcept
{
    if (text.empty() || !is_digit(text[0])) {
        return 0;
    }
    std::uint64_t v = 0;
    std::size_t end = 0;
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        end = 2;
        while (end < text.size() && hex_digit(text[end]) >= 0) {
            v = v * 16 + static_cast<std::uint64_t>(hex_digit(text[end]));
            ++end;
        }
        if (end == 2) {
            return 0; // "0x" without a hexadecimal digit reads nothing
        }
    } else {
        while (end < text.size() && is_digit(text[end])) {
            v = v * 10 + static_cast<std::uint64_t>(text[end] - '0');
            ++end;
        }
    }
    if (end == text.size() || (text[end] != '.' && text[end] != 'e' && text[end] != 'E')) {
        value = formula_value::from_integer(static_cast<std::int64_t>(v));
        return end;
    }
    // strtod needs a terminated text; copy just the candidate characters.
    const std::size_t candidate = float_candidate_length(text);
    std::array<char, 64> small{};
    std::string large;
    const char* start = nullptr;
    if (candidate < small.size()) {
        text.copy(small.data(), candidate);
        start = small.data();
    } else {
        try {
            large.assign(text.substr(0, candidate));
        } catch (...) {
            return 0;
        }
        start = large.c_str();
    }
    char* stop = nullptr;
    const double d = std::strtod(start, &stop);
    const auto consumed = static_cast<std::size_t>(stop - start);
    if (consumed == 0) {
        return 0;
    }
    value = formula_value::from_double(d);
    return consumed;
}

formula_token next_token(std::string_view text) noexcept
{
    std::size_t pos = 0;
    while (pos < text.size() && is_blank(text[pos])) {
        ++pos;
    }
    formula_token token;
    token.text = text.substr(pos);
    const std::string_view t = token.text;
    if (t.empty()) {
        token.kind = tk_end;
        token.reason = end_of_text;
        return token;
    }
    if (t.size() >= 2) {
        for (const auto& op : two_char_operators) {
            if (t.substr(0, 2) == op.text) {
                token.kind = op.code;
                token.rest = t.substr(2);
                return token;
            }
        }
    }
    for (const auto& op : one_char_operators) {
        if (t[0] == op.text[0]) {
            token.kind = op.code;
            token.rest = t.substr(1);
            return token;
        }
    }
    if (const std::size_t used = read_number_literal(t, token.number); used != 0) {
        token.kind = tk_number;
        token.rest = t.substr(used);
        return token;
    }
    if (!is_digit(t[0]) && is_name_char(t[0])) {
        std::size_t end = 1;
        while (end < t.size() && is_name_char(t[end])) {
            ++end;
        }
        token.name = t.substr(0, end);
        std::size_t after = end;
        while (after < t.size() && is_blank(t[after])) {
            ++after;
        }
        if (after < t.size() && t[after] == '(') {
            token.kind = tk_function;
            token.rest = t.substr(after + 1);
        } else {
            token.kind = tk_name;
            token.rest = t.substr(end);
        }
        return token;
    }
    token.kind = tk_end;
    token.reason = invalid_character;
    token.rest = t;
    return token;
}

} // namespace genicam::formula
