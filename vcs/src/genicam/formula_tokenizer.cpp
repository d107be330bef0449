#include "genicam/formula_tokenizer.h"

#include "genicam/number_text.h"

#include <array>
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

// Operator tokens by their first character; a two-character operator is
// tried before its one-character prefix. Every formula of a description is
// tokenized while it loads, so this is one table read, not a search.
struct operator_start {
    std::uint32_t one = tk_end;  // the one-character operator; tk_end: none
    char second = '\0';          // the second character of a two-character one
    std::uint32_t two = tk_end;
    char second_alt = '\0';      // "<" starts both "<<", "<=" and "<>"
    std::uint32_t two_alt = tk_end;
    char second_alt2 = '\0';
    std::uint32_t two_alt2 = tk_end;
};

constexpr std::array<operator_start, 256> make_operator_starts() noexcept
{
    std::array<operator_start, 256> starts{};
    const auto one = [&](char c, std::uint32_t code) { starts[static_cast<unsigned char>(c)].one = code; };
    const auto two = [&](char c, char second, std::uint32_t code) {
        operator_start& s = starts[static_cast<unsigned char>(c)];
        if (s.second == '\0') {
            s.second = second;
            s.two = code;
        } else if (s.second_alt == '\0') {
            s.second_alt = second;
            s.two_alt = code;
        } else {
            s.second_alt2 = second;
            s.two_alt2 = code;
        }
    };
    two('*', '*', tk_power);
    two('>', '>', tk_shift_right);
    two('<', '<', tk_shift_left);
    two('>', '=', tk_greater_equal);
    two('<', '=', tk_less_equal);
    two('<', '>', tk_not_equal);
    two('&', '&', tk_logical_and);
    two('|', '|', tk_logical_or);
    one('(', tk_open);
    one(')', tk_close);
    one('>', tk_greater);
    one('<', tk_less);
    one('=', tk_equal);
    one('%', tk_remainder);
    one('*', tk_multiply);
    one('/', tk_divide);
    one('+', tk_plus);
    one('-', tk_minus);
    one('&', tk_bit_and);
    one('|', tk_bit_or);
    one('^', tk_bit_xor);
    one('~', tk_complement);
    one('?', tk_question);
    one(':', tk_colon);
    one(',', tk_comma);
    return starts;
}

constexpr std::array<operator_start, 256> operator_starts = make_operator_starts();

// The operator at the start of `t` (not empty) and its length; length 0: none.
std::pair<std::uint32_t, std::size_t> operator_at(std::string_view t) noexcept
{
    const operator_start& s = operator_starts[static_cast<unsigned char>(t[0])];
    if (t.size() >= 2 && t[1] != '\0') {
        if (t[1] == s.second) {
            return {s.two, 2};
        }
        if (t[1] == s.second_alt) {
            return {s.two_alt, 2};
        }
        if (t[1] == s.second_alt2) {
            return {s.two_alt2, 2};
        }
    }
    if (s.one != tk_end) {
        return {s.one, 1};
    }
    return {tk_end, 0};
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
