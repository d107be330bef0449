#include "genicam/formula_tokenizer.h"

#include "genicam/number_text.h"

#include <optional>
#include <utility>

namespace genicam::formula {
namespace {

bool is_blank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_char(char c) noexcept { return is_letter(c) || is_digit(c) || c == '_' || c == '.'; }

// The operator at the start of `t` (not empty) and its length; length 0:
// none. A two-character operator wins over its one-character prefix.
std::pair<std::uint32_t, std::size_t> operator_at(std::string_view t) noexcept
{
    const char next = t.size() >= 2 ? t[1] : '\0';
    const auto one = [](std::uint32_t code) { return std::pair<std::uint32_t, std::size_t>{code, 1}; };
    const auto two = [](std::uint32_t code) { return std::pair<std::uint32_t, std::size_t>{code, 2}; };
    switch (t[0]) {
    case '*':
        return next == '*' ? two(tk_power) : one(tk_multiply);
    case '>':
        return next == '>' ? two(tk_shift_right) : next == '=' ? two(tk_greater_equal) : one(tk_greater);
    case '<':
        return next == '<'   ? two(tk_shift_left)
               : next == '=' ? two(tk_less_equal)
               : next == '>' ? two(tk_not_equal)
                             : one(tk_less);
    case '&':
        return next == '&' ? two(tk_logical_and) : one(tk_bit_and);
    case '|':
        return next == '|' ? two(tk_logical_or) : one(tk_bit_or);
    case '(':
        return one(tk_open);
    case ')':
        return one(tk_close);
    case '=':
        return one(tk_equal);
    case '%':
        return one(tk_remainder);
    case '/':
        return one(tk_divide);
    case '+':
        return one(tk_plus);
    case '-':
        return one(tk_minus);
    case '^':
        return one(tk_bit_xor);
    case '~':
        return one(tk_complement);
    case '?':
        return one(tk_question);
    case ':':
        return one(tk_colon);
    case ',':
        return one(tk_comma);
    default:
        return {tk_end, 0};
    }
}

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
    if (const auto [code, length] = operator_at(t); length != 0) {
        token.kind = code;
        token.rest = t.substr(length);
        return token;
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
