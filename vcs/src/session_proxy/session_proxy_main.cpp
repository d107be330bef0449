// CamTovraService_SessionProxy: started by the service in a user session.
// Owns the session's mailslot, registers it with the service and turns the
// service's list-changed messages into device-change broadcasts for the
// applications of the session. The service's closing message ends it with
// exit code 0; a failed start-up ends it with -1.
#include <windows.h>
#include <objbase.h>

#include <exception>
#include <string>

#include "service/session_mailslot.h"
#include "session_proxy/com_discovery_client.h"
#include "session_proxy/device_broadcast.h"
#include "session_proxy/devicelist_changed_event.h"

namespace {

void debug_line(const std::wstring& text)
{
    OutputDebugStringW(text.c_str());
}

// Broadcasts the change; the line tells what was sent and how the system took it.
void announce(std::wstring_view key, std::uint32_t kind)
{
    SetLastError(ERROR_SUCCESS);
    const long result =
        session_proxy::broadcast_device_change(session_proxy::system_broadcast(), key, kind);
    const DWORD error = GetLastError();
    debug_line(L"[CamTovra] session_proxy, broadcast " +
               std::wstring(kind == DShowDeviceService::device_event::removed ? L"removal" : L"arrival") +
               L" of \"" + std::wstring(session_proxy::device_name_prefix) + std::wstring(key) + L"\", result=" +
               std::to_wstring(result) + L" error=" + std::to_wstring(error) + L"\n");
}

int run_proxy(DWORD main_thread)
{
    DWORD session_id = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session_id)) {
        debug_line(L"[CamTovra] session_proxy, Failed to retrieve session id\n");
        return -1;
    }
    const std::wstring name = DShowDeviceService::to_wide(
        DShowDeviceService::session_mailslot_name(static_cast<std::int32_t>(session_id)));

    // The loop's message queue exists before any quit can be posted to it.
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    std::shared_ptr<session_proxy::devicelist_changed_event> listener;
    try {
        listener = session_proxy::devicelist_changed_event::create(
            name,
            [main_thread](const GUID&, std::wstring_view key, std::uint32_t kind) {
                if (kind == DShowDeviceService::device_event::closing) {
                    PostThreadMessageW(main_thread, WM_QUIT, 0, 0);
                } else {
                    announce(key, kind);
                }
            },
            session_proxy::com_discovery_connector(),
            [main_thread] { PostThreadMessageW(main_thread, WM_QUIT, static_cast<WPARAM>(-1), 0); });
    } catch (const std::exception& error) {
        const std::string text = error.what();
        debug_line(L"[CamTovra] session_proxy, start-up failed: " + std::wstring(text.begin(), text.end()) + L"\n");
        return -1;
    }

    int result = 0;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    listener.reset();
    return result < 0 ? -1 : static_cast<int>(message.wParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return -1;
    }
    const int exit_code = run_proxy(GetCurrentThreadId());
    CoUninitialize();
    return exit_code;
}
