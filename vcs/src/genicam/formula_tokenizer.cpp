#include "genicam/formula_tokenizer.h"

#include "genicam/number_text.h"

#include <array>
#include <optional>
#include <utility>

namespace genicam::formula {
namespace {

// What a character can begin or continue, from one table: formulas are short
// and compiled by the thousand while a description loads.
enum char_class : std::uint8_t {
    other = 0,
    blank = 1,      // skipped between tokens
    digit = 2,      // begins a number, continues a name
    name_start = 3, // a letter, "_" or ".": begins and continues a name
    operator_char = 4,
};

constexpr std::array<std::uint8_t, 256> make_char_classes() noexcept
{
    std::array<std::uint8_t, 256> classes{};
    for (const unsigned char c : std::string_view(" \t\n\v\f\r")) {
        classes[c] = blank;
    }
    for (unsigned char c = '0'; c <= '9'; ++c) {
        classes[c] = digit;
    }
    for (unsigned char c = 'a'; c <= 'z'; ++c) {
        classes[c] = name_start;
        classes[c - 'a' + 'A'] = name_start;
    }
    classes['_'] = name_start;
    classes['.'] = name_start;
    for (const unsigned char c : std::string_view("*><&|()=%/+-^~?:,")) {
        classes[c] = operator_char;
    }
    return classes;
}

constexpr std::array<std::uint8_t, 256> char_classes = make_char_classes();

std::uint8_t class_of(char c) noexcept
{
    return char_classes[static_cast<unsigned char>(c)];
}

bool is_digit(char c) noexcept { return class_of(c) == digit; }
bool is_name_char(char c) noexcept { return class_of(c) == digit || class_of(c) == name_start; }

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
    // Most literals are plain decimal integers: read them here. Hexadecimal
    // ones and those that go on as a double take the general reading.
    const bool hex = text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex) {
        std::uint64_t magnitude = 0;
        std::size_t used = 0;
        while (used < text.size() && is_digit(text[used])) {
            // Wraps on overflow, as the reading of number texts does.
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[used] - '0');
            ++used;
        }
        if (used == text.size() || (text[used] != '.' && text[used] != 'e' && text[used] != 'E')) {
            value = formula_value::from_integer(static_cast<std::int64_t>(magnitude));
            return used;
        }
    }
    const std::optional<GenICam::impl::parsed_number> n = GenICam::impl::parse_number_literal(text);
    if (!n || n->consumed.empty()) {
        return 0;
    }
    value = n->value.is_integer ? formula_value::from_integer(n->value.i) : formula_value::from_double(n->value.d);
    return n->consumed.size();
}

void read_token(std::string_view text, formula_token& token) noexcept
{
    std::size_t pos = 0;
    while (pos < text.size() && class_of(text[pos]) == blank) {
        ++pos;
    }
    const std::string_view t = text.substr(pos);
    token.text = t;
    token.name = {};
    token.number = {};
    token.reason = end_of_text;
    if (t.empty()) {
        token.kind = tk_end;
        token.rest = {};
        return;
    }
    switch (class_of(t[0])) {
    case operator_char: {
        const auto [code, length] = operator_at(t);
        token.kind = code;
        token.rest = t.substr(length);
        return;
    }
    case digit:
        if (const std::size_t used = read_number_literal(t, token.number); used != 0) {
            token.kind = tk_number;
            token.rest = t.substr(used);
            return;
        }
        break;
    case name_start: {
        std::size_t end = 1;
        while (end < t.size() && is_name_char(t[end])) {
            ++end;
        }
        token.name = t.substr(0, end);
        std::size_t after = end;
        while (after < t.size() && class_of(t[after]) == blank) {
            ++after;
        }
        if (after < t.size() && t[after] == '(') {
            token.kind = tk_function;
            token.rest = t.substr(after + 1);
        } else {
            token.kind = tk_name;
            token.rest = t.substr(end);
        }
        return;
    }
    default:
        break;
    }
    token.kind = tk_end;
    token.reason = invalid_character;
    token.rest = t;
}

formula_token next_token(std::string_view text) noexcept
{
    formula_token token;
    read_token(text, token);
    return token;
}

} // namespace genicam::formula
