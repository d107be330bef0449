#pragma once
// The helper-program side of start detection: the first thing a helper
// program's main does is to signal the event that its starter named, so that
// the starter can tell a program that never reached main (a start that Wine
// failed) from one that ran and failed.

#include <windows.h>

namespace test_support {

// Environment variable that carries the event's name to the started program.
inline constexpr const wchar_t* started_event_variable = L"CAMTOVRA_STARTED_EVENT";

// Signals the named event; a program started by someone else (no variable)
// has no one to tell.
inline void announce_started(const wchar_t* event_name = nullptr)
{
    wchar_t name[256] = {};
    if (event_name == nullptr) {
        const DWORD length = GetEnvironmentVariableW(started_event_variable, name, 256);
        if (length == 0 || length >= 256) {
            return;
        }
        event_name = name;
    }
    if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name)) {
        SetEvent(event);
        CloseHandle(event);
    }
}

} // namespace test_support
