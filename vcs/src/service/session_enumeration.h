#pragma once
// Where the user sessions come from: the terminal-services session list on a
// real system, a list of the test's own in tests (Wine reports no sessions).

#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

namespace service {

inline constexpr DWORD no_session = 0xFFFFFFFF;

struct session_state {
    DWORD id = no_session;
    bool active = false; // WTSActive: a user is logged on and attached
};

struct session_source {
    // The sessions in the order reported; nothing when the enumeration failed.
    std::function<std::optional<std::vector<session_state>>()> enumerate;
    // The session attached to the console; no_session when there is none.
    std::function<DWORD()> active_console_session;
};

// WTSEnumerateSessionsW on the local server and WTSGetActiveConsoleSessionId.
session_source system_session_source();

// Calls on_session(id, active) for every reported session in order. When the
// enumeration fails, the active console session (if any) is reported instead.
void for_each_session(const session_source& source, const std::function<void(DWORD, bool)>& on_session);

// The session of the calling process; no_session when it cannot be had.
DWORD own_session_id();

} // namespace service
