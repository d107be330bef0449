#include "gen_utils/string_conv.h"

#include <windows.h>

#include <climits>

namespace utils {

std::string to_utf8(const wchar_t* text, std::size_t length)
{
    // The API counts in int; longer input cannot be converted in one call.
    if (text == nullptr || length == 0 || length > INT_MAX) {
        return {};
    }
    const int wide_length = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, text, wide_length, result.data(), needed, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::wstring to_utf16(const char* text, std::size_t length)
{
    if (text == nullptr || length == 0 || length > INT_MAX) {
        return {};
    }
    const int narrow_length = static_cast<int>(length);
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text, narrow_length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text, narrow_length, result.data(), needed);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

} // namespace utils
