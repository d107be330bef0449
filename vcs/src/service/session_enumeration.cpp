#include "service/session_enumeration.h"

#include <wtsapi32.h>

namespace service {

namespace {
std::optional<std::vector<session_state>> enumerate_wts_sessions()
{
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        return std::nullopt;
    }
    std::vector<session_state> states;
    try {
        states.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            states.push_back(session_state{sessions[i].SessionId, sessions[i].State == WTSActive});
        }
    } catch (...) {
        WTSFreeMemory(sessions);
        throw;
    }
    WTSFreeMemory(sessions);
    return states;
}
} // namespace

session_source system_session_source()
{
    return session_source{enumerate_wts_sessions, [] { return WTSGetActiveConsoleSessionId(); }};
}

void for_each_session(const session_source& source, const std::function<void(DWORD, bool)>& on_session)
{
    if (const auto sessions = source.enumerate()) {
        for (const session_state& session : *sessions) {
            on_session(session.id, session.active);
        }
        return;
    }
    if (const DWORD console = source.active_console_session(); console != no_session) {
        on_session(console, true);
    }
}

DWORD own_session_id()
{
    DWORD session = no_session;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        return no_session;
    }
    return session;
}

} // namespace service
