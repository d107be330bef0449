// session_probe: started without arguments, as a program the service starts
// in a user session. Reports the desktop it was given and whether the
// starter's environment leaked into its own, as one UTF-16 message
// "desktop=<name>;marker=<value or none>;profile=<yes|no>" written to
// "\\.\mailslot\camtovra_tests\session_probe". It is started with the
// user's environment, not its starter's: it announces reaching main on an
// event of a fixed name, "Global\camtovra_session_probe_started".
// Exit code 0 when the report was written, 1 when the mailslot cannot be
// opened, 2 when the write failed.
#include <windows.h>

#include <string>

#include "announce_started.h"

int wmain()
{
    test_support::announce_started(L"Global\\camtovra_session_probe_started");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);

    wchar_t marker[256] = {};
    const DWORD marker_length = GetEnvironmentVariableW(L"CAMTOVRA_PROBE_MARKER", marker, 256);
    wchar_t profile[MAX_PATH] = {};
    const DWORD profile_length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);

    std::wstring report = L"desktop=";
    report += startup.lpDesktop != nullptr ? startup.lpDesktop : L"";
    report += L";marker=";
    report += marker_length > 0 && marker_length < 256 ? marker : L"none";
    report += L";profile=";
    report += profile_length > 0 ? L"yes" : L"no";

    HANDLE slot = CreateFileW(L"\\\\.\\mailslot\\camtovra_tests\\session_probe", GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(slot, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written,
                              nullptr);
    CloseHandle(slot);
    return ok ? 0 : 2;
}
