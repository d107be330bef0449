#pragma once
// Starting the helper programs of this folder as real child processes.

#include <windows.h>

#include <string>

#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"

namespace fake_devices {

// The build's paths are Unix paths; Wine maps "/" to drive Z:.
inline std::wstring windows_path(const char* unix_path)
{
    std::wstring path = L"Z:" + utils::to_utf16(unix_path);
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

struct child_process {
    win32::unique_handle process;
    DWORD id = 0;

    // Exit code once it has ended within the timeout, else 0xFFFFFFFF.
    DWORD wait(DWORD timeout_ms = 30000) const
    {
        if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
            return 0xFFFFFFFF;
        }
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

// Starts `unix_exe` with one argument; an empty process handle on failure.
inline child_process start_child(const char* unix_exe, const std::wstring& argument)
{
    const std::wstring exe = windows_path(unix_exe);
    std::wstring command = L"\"" + exe + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    child_process child;
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        child.process.reset(info.hProcess);
        child.id = info.dwProcessId;
    }
    return child;
}

} // namespace fake_devices
