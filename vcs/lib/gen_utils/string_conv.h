#pragma once
// The one pair of UTF-8/UTF-16 conversions: UTF-8 inside the service, UTF-16 at
// every Win32 and COM boundary. Lengths are explicit, so embedded NULs convert
// as they are. Empty input, or input that converts to nothing, gives "".

#include <cstddef>
#include <string>
#include <string_view>

namespace utils {

std::string to_utf8(const wchar_t* text, std::size_t length);
std::wstring to_utf16(const char* text, std::size_t length);

inline std::string to_utf8(std::wstring_view text)
{
    return to_utf8(text.data(), text.size());
}
inline std::wstring to_utf16(std::string_view text)
{
    return to_utf16(text.data(), text.size());
}

// (pointer, length up to the first NUL); a null pointer gives an empty view.
inline std::string_view string_view_from_cstr(const char* text)
{
    return text == nullptr ? std::string_view{} : std::string_view{text};
}
inline std::wstring_view string_view_from_cstr(const wchar_t* text)
{
    return text == nullptr ? std::wstring_view{} : std::wstring_view{text};
}

} // namespace utils
