// Test helper: opens the named event given as the first argument and signals
// it. Exit code 0 on success, 2 without an argument, 3 when the event cannot
// be opened (the error printed).
#include <windows.h>

#include <cstdio>

#include "announce_started.h"

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 2) {
        return 2;
    }
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr) {
        std::fprintf(stderr, "open_named_event: OpenEventW failed: error %lu\n", GetLastError());
        return 3;
    }
    SetEvent(event);
    CloseHandle(event);
    return 0;
}
