#include "propertypage/value_text.h"

#include "genicam/number_text.h"

#include <fmt/format.h>

#include <cwctype>

namespace VCDAdapterHelper {

namespace {

bool is_space(wchar_t c) noexcept
{
    return std::iswspace(static_cast<std::wint_t>(c)) != 0;
}

std::wstring_view trim(std::wstring_view text) noexcept
{
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// `number` in decimal, written into `buffer` from its end.
std::wstring_view decimal_text(std::int64_t number, wchar_t (&buffer)[24]) noexcept
{
    std::size_t at = 24;
    std::uint64_t rest = number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    do {
        buffer[--at] = static_cast<wchar_t>(L'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (number < 0) {
        buffer[--at] = L'-';
    }
    return {buffer + at, 24 - at};
}

} // namespace

std::wstring_view trim_value_text(std::wstring_view text, std::wstring_view unit) noexcept
{
    text = trim(text);
    if (!unit.empty() && text.size() >= unit.size() && text.substr(text.size() - unit.size()) == unit) {
        text.remove_suffix(unit.size());
        text = trim(text);
    }
    return text;
}

bool parse_int_strict(std::wstring_view text, std::int32_t& value) noexcept
{
    text = trim_value_text(text, {});
    // The leading integer: an optional minus sign and the digits after it.
    std::size_t end = 0;
    const bool negative = !text.empty() && text.front() == L'-';
    if (negative) {
        end = 1;
    }
    std::int64_t magnitude = 0;
    const std::size_t first_digit = end;
    while (end < text.size() && text[end] >= L'0' && text[end] <= L'9') {
        magnitude = magnitude * 10 + (text[end] - L'0');
        if (magnitude > 0x80000000LL) {
            return false;
        }
        ++end;
    }
    if (end == first_digit) {
        return false;
    }
    const std::int64_t number = negative ? -magnitude : magnitude;
    wchar_t buffer[24];
    if (number < INT32_MIN || number > INT32_MAX) {
        return false;
    }
    // Written back in decimal, the number must be the whole text: this refuses
    // leading zeros, "-0" and anything after the digits.
    if (decimal_text(number, buffer) != text) {
        return false;
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

bool parse_decimal_text(std::wstring_view text, double& value)
{
    // Read by the GenICam engine's reader, which never consults the locale;
    // it takes narrow text, and a number is plain ASCII.
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) {
        if (c > 0x7F) {
            break; // the number, if any, ended before this
        }
        narrow.push_back(c == L',' ? '.' : static_cast<char>(c));
    }
    const GenICam::impl::parsed_float parsed = GenICam::impl::parse_float_text(narrow);
    if (!parsed.ok()) {
        return false;
    }
    value = parsed.value;
    return true;
}

std::string fixed_point_text(double value, int decimals)
{
    // fmt formats without the locale unless asked to use it.
    return fmt::format("{:.{}f}", value, decimals);
}

} // namespace VCDAdapterHelper
