#pragma once
#include <windows.h>

#include <string_view>

namespace utils {

// Starts `application` as the token's user on "winsta0\default" with the user's
// own environment block and a new console. An empty command line or directory
// is passed as NULL. Returns the process handle (the caller owns it) or NULL.
HANDLE launch_process_in_session(HANDLE user_token, std::wstring_view application,
                                 std::wstring_view command_line, std::wstring_view current_directory);

} // namespace utils
