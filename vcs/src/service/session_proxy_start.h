#pragma once
// Starting the session proxy in a user session, and the session callback that
// opens a session's mailslot or starts the proxy there when there is none.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "gen_utils/win32_utils.h"

namespace service {

class list_changed_notifier;

inline constexpr std::wstring_view session_proxy_file_name = L"CamTovraService_SessionProxy.exe";

// What starting a program in a session needs from the system. Tests replace it.
struct session_launcher {
    // WTSQueryUserToken: the token of the user logged on to the session, or null.
    std::function<win32::unique_handle(DWORD session_id)> query_user_token;
    // utils::launch_process_in_session with an empty command line and directory.
    std::function<win32::unique_handle(HANDLE primary_token, const std::wstring& application)> launch;
};
session_launcher system_session_launcher();

// "CamTovraService_SessionProxy.exe" in the directory of the running executable.
std::wstring session_proxy_path();

// Starts the program at `application` in the session as the session's user
// (primary token duplicated from the user's token). Without a user token
// nothing is started: the service's own token must never stand in for it.
// True when a process was started; the proxy is not watched afterwards.
bool start_session_proxy(DWORD session_id, const std::wstring& application, const session_launcher& launcher);
// The session proxy beside the running executable, through the system.
bool start_session_proxy(DWORD session_id);

// The session callback: for an active session other than the service's own,
// open its mailslot as a notifier client, or start the proxy there when the
// mailslot cannot be opened (no proxy runs in that session yet).
class on_session_active {
public:
    using proxy_starter = std::function<void(DWORD session_id)>;

    on_session_active(list_changed_notifier& notifier, DWORD own_session_id,
                      proxy_starter start_proxy = [](DWORD id) { start_session_proxy(id); });

    void operator()(DWORD session_id, bool active) const;

private:
    list_changed_notifier* notifier_;
    DWORD own_session_id_;
    proxy_starter start_proxy_;
};

} // namespace service
