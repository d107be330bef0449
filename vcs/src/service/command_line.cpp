#include "service/command_line.h"

#include <array>
#include <cwctype>
#include <utility>

namespace service {

namespace {

bool is_word_end(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// True when `text` begins with `keyword` (ignoring case) and the word ends there.
bool word_equals(std::wstring_view text, std::wstring_view keyword)
{
    if (text.size() < keyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(text[i])) != std::towlower(static_cast<wint_t>(keyword[i]))) {
            return false;
        }
    }
    return text.size() == keyword.size() || is_word_end(text[keyword.size()]);
}

// Calls `visit` with the text after each '-' or '/', in order; stops when it returns true.
template <class Visit>
bool for_each_token(std::wstring_view line, Visit&& visit)
{
    for (std::size_t pos = line.find_first_of(L"-/"); pos != std::wstring_view::npos;
         pos = line.find_first_of(L"-/", pos + 1)) {
        if (visit(line.substr(pos + 1))) {
            return true;
        }
    }
    return false;
}

constexpr std::array<std::pair<std::wstring_view, command_switch>, 4> first_group{{
    {L"UnregServer", command_switch::unreg_server},
    {L"RegServer", command_switch::reg_server},
    {L"UnregServerPerUser", command_switch::unreg_server_per_user},
    {L"RegServerPerUser", command_switch::reg_server_per_user},
}};

} // namespace

command_switch parse_command_line(std::wstring_view command_line) noexcept
{
    command_switch found = command_switch::none;
    for_each_token(command_line, [&](std::wstring_view token) {
        for (const auto& [keyword, kind] : first_group) {
            if (word_equals(token, keyword)) {
                found = kind;
                return true;
            }
        }
        return false;
    });
    if (found != command_switch::none) {
        return found;
    }
    for_each_token(command_line, [&](std::wstring_view token) {
        if (word_equals(token, L"Service")) {
            found = command_switch::service;
            return true;
        }
        return false;
    });
    return found;
}

} // namespace service
