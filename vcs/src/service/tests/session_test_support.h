#pragma once
// Helpers shared by the tests that start other processes.
#include <string>
#include <string_view>

namespace test_support {

// A path of the build tree ("/work/...") as Wine's Z: drive shows it.
inline std::wstring windows_path(std::string_view unix_path)
{
    std::wstring path = L"Z:";
    for (const char c : unix_path) {
        path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    }
    return path;
}

} // namespace test_support
