#include "genicam/formula_tokenizer.h"

#include "genicam/number_text.h"

#include <array>
#include <optional>

namespace genicam::formula {
namespace {

bool is_blank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_char(char c) noexcept { return is_letter(c) || is_digit(c) || c == '_' || c == '.'; }

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

} // namespace

std::size_t read_number_literal(std::string_view text, formula_value& value) noexcept
{
    // Signs and blanks are tokens of their own: a literal begins with a digit.
    if (text.empty() || !is_digit(text[0])) {
        return 0;
    }
    const std::optional<GenICam::impl::parsed_number> n = GenICam::impl::parse_number_literal(text);
    if (!n || n->consumed.empty()) {
        return 0;
    }
    value = n->value.is_integer ? formula_value::from_integer(n->value.i) : formula_value::from_double(n->value.d);
    return n->consumed.size();
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
