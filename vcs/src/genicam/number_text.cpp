#include "genicam/number_text.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

namespace GenICam::impl {

namespace {

bool is_blank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// Register addresses and masks are mostly hexadecimal: their digits are
// looked up, not told apart by a chain of range tests.
constexpr std::array<std::int8_t, 256> make_hex_values() noexcept
{
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c) {
        values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'a'; c <= 'f'; ++c) {
        values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
        values[static_cast<std::size_t>(c - 'a' + 'A')] = static_cast<std::int8_t>(c - 'a' + 10);
    }
    return values;
}

constexpr std::array<std::int8_t, 256> hex_values = make_hex_values();

int hex_value(char c) noexcept
{
    return hex_values[static_cast<unsigned char>(c)];
}

char lower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_with_nocase(std::string_view text, std::string_view word) noexcept
{
    if (text.size() < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(text[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// Scans blanks and signs up to the first character accepted by `starts`;
// returns its position or npos.
template <class Pred>
std::size_t scan_prefix(std::string_view text, bool& negative, Pred starts) noexcept
{
    negative = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (starts(c)) {
            return i;
        }
        if (c == '-') {
            negative = !negative;
        } else if (c != '+' && !is_blank(c)) {
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

// Rough decimal (or, for hexadecimal, binary) exponent of a number text that
// the conversion found out of range: positive for huge values.
long long magnitude_exponent(std::string_view number, bool hex) noexcept
{
    const std::size_t exp_at = number.find_first_of(hex ? "pP" : "eE");
    const std::string_view mantissa = number.substr(0, exp_at);
    long long exponent = 0;
    if (exp_at != std::string_view::npos) {
        bool neg = false;
        std::size_t i = exp_at + 1;
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) {
            neg = number[i] == '-';
            ++i;
        }
        for (; i < number.size() && is_digit(number[i]); ++i) {
            if (exponent < 1000000000) {
                exponent = exponent * 10 + (number[i] - '0');
            }
        }
        exponent = neg ? -exponent : exponent;
    }
    const long long digit_weight = hex ? 4 : 1;
    const std::size_t point = mantissa.find('.');
    const std::string_view integer_part = mantissa.substr(0, point);
    const std::size_t first_nonzero = integer_part.find_first_not_of('0');
    if (first_nonzero != std::string_view::npos) {
        return exponent + static_cast<long long>(integer_part.size() - first_nonzero) * digit_weight;
    }
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : mantissa.substr(point + 1);
    const std::size_t fraction_nonzero = fraction.find_first_not_of('0');
    const long long zeros = static_cast<long long>(fraction_nonzero == std::string_view::npos ? fraction.size()
                                                                                                 : fraction_nonzero);
    return exponent - zeros * digit_weight;
}

std::int64_t apply_sign(std::uint64_t magnitude, bool negative) noexcept
{
    const std::uint64_t v = negative ? ~magnitude + 1 : magnitude;
    return static_cast<std::int64_t>(v);
}

} // namespace

parsed_integer parse_integer_text(std::string_view text) noexcept
{
    bool negative = false;
    const std::size_t first = scan_prefix(text, negative, is_digit);
    if (first == std::string_view::npos) {
        return {};
    }
    std::uint64_t value = 0;
    std::size_t pos = first;
    if (text.size() - first >= 3 && text[first] == '0' && (text[first + 1] == 'x' || text[first + 1] == 'X')) {
        pos = first + 2;
        const std::size_t digits_start = pos;
        while (pos < text.size() && hex_value(text[pos]) >= 0) {
            value = value * 16 + static_cast<std::uint64_t>(hex_value(text[pos]));
            ++pos;
        }
        if (pos == digits_start) {
            return {};
        }
    } else {
        while (pos < text.size() && is_digit(text[pos])) {
            value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
            ++pos;
        }
    }
    return {apply_sign(value, negative), text.substr(0, pos)};
}

parsed_integer parse_hex_text(std::string_view text) noexcept
{
    bool negative = false;
    const std::size_t first = scan_prefix(text, negative, [](char c) { return hex_value(c) >= 0; });
    if (first == std::string_view::npos) {
        return {};
    }
    std::uint64_t value = 0;
    std::size_t pos = first;
    while (pos < text.size() && hex_value(text[pos]) >= 0) {
        value = value * 16 + static_cast<std::uint64_t>(hex_value(text[pos]));
        ++pos;
    }
    return {apply_sign(value, negative), text.substr(0, pos)};
}

parsed_float parse_float_text(std::string_view text) noexcept
{
    std::size_t pos = 0;
    while (pos < text.size() && is_blank(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::string_view body = text.substr(pos);
    double value = 0.0;
    std::size_t used = 0;
    if (starts_with_nocase(body, "infinity")) {
        value = std::numeric_limits<double>::infinity();
        used = 8;
    } else if (starts_with_nocase(body, "inf")) {
        value = std::numeric_limits<double>::infinity();
        used = 3;
    } else if (starts_with_nocase(body, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
        used = 3;
        // "nan(chars)" takes the parenthesised part too.
        if (body.size() > 3 && body[3] == '(') {
            std::size_t close = 4;
            while (close < body.size() && (is_digit(body[close]) || hex_value(body[close]) >= 0 ||
                                           (body[close] >= 'g' && body[close] <= 'z') ||
                                           (body[close] >= 'G' && body[close] <= 'Z') || body[close] == '_')) {
                ++close;
            }
            if (close < body.size() && body[close] == ')') {
                used = close + 1;
            }
        }
    } else {
        const bool hex = body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
        const std::size_t skip = hex ? 2 : 0;
        const char* begin = body.data() + skip;
        const char* end = body.data() + body.size();
        if (begin < end && *begin != '-' && *begin != '+') {
            const auto r = std::from_chars(begin, end, value,
                                           hex ? std::chars_format::hex : std::chars_format::general);
            if (r.ec == std::errc::result_out_of_range) {
                // Past the double range: a huge magnitude reads as infinity,
                // a tiny one as zero, as the C library does.
                const std::string_view number(begin, static_cast<std::size_t>(r.ptr - begin));
                value = magnitude_exponent(number, hex) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
                used = skip + number.size();
            } else if (r.ec == std::errc{}) {
                used = skip + static_cast<std::size_t>(r.ptr - begin);
            }
        }
        if (used == 0 && hex) {
            // "0x" without hexadecimal digits reads as the 0 before the x.
            value = 0.0;
            used = 1;
        }
    }
    if (used == 0) {
        return {};
    }
    return {negative ? -value : value, text.substr(0, pos + used)};
}

std::optional<parsed_number> parse_number_literal(std::string_view text) noexcept
{
    const parsed_integer integer = parse_integer_text(text);
    if (!integer.ok()) {
        return std::nullopt;
    }
    const std::size_t n = integer.consumed.size();
    if (n == text.size() || (text[n] != '.' && text[n] != 'e' && text[n] != 'E')) {
        return parsed_number{eval_number::from_int(integer.value), integer.consumed};
    }
    const parsed_float f = parse_float_text(text);
    return parsed_number{eval_number::from_double(f.value), f.consumed};
}

} // namespace GenICam::impl
