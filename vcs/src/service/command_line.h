#pragma once
// The service executable's command-line switches. A switch is a keyword after
// '-' or '/', compared case-insensitively and as a whole word (the keyword
// must be followed by a blank, a tab or the end of the line).

#include <string_view>

namespace service {

enum class command_switch {
    none,
    unreg_server,
    reg_server,
    unreg_server_per_user,
    reg_server_per_user,
    service,
};

// The switch that decides what the process does. The first group
// (UnregServer, RegServer, UnregServerPerUser, RegServerPerUser) is tried
// token by token in that order; "Service" only when none of them is found.
command_switch parse_command_line(std::wstring_view command_line) noexcept;

} // namespace service
