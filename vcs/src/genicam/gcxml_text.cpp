#include "genicam/gcxml_text.h"

namespace gcxml {

namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

bool is_continuation(unsigned char c) noexcept
{
    return (c & 0xC0) == 0x80;
}

bool is_ascii_name_char(unsigned char c, bool first) noexcept
{
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (first)
        return letter;
    return letter || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

} // namespace

std::size_t utf8_sequence_length(std::string_view text) noexcept
{
    if (text.empty())
        return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead == 0)
        return 0;
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    // Bounds of the second byte: they exclude overlong forms, surrogates and
    // code points above U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(static_cast<unsigned char>(text[i])))
            return 0;
    }
    return length;
}

bool is_clean_utf8(std::string_view text) noexcept
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c != 0 && c < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t length = utf8_sequence_length(text.substr(pos));
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

std::string repair_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = utf8_sequence_length(text.substr(pos));
        if (length == 0) {
            out += replacement_character;
            ++pos;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

std::string to_element_name(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 1);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            out += is_ascii_name_char(c, out.empty()) ? static_cast<char>(c) : '_';
            ++pos;
            continue;
        }
        const std::size_t length = utf8_sequence_length(text.substr(pos));
        if (length == 0) {
            out += '_';
            ++pos;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    if (out.empty())
        out.push_back('_');
    return out;
}

} // namespace gcxml
