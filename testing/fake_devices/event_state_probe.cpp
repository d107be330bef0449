// Test helper: opens the named event given as the first argument from another
// process and reports its state. Exit code 0 when it is signalled, 1 when it
// is not, 2 without an argument, 3 when the event cannot be opened (the
// error printed).
#include <windows.h>

#include <cstdio>

#include "announce_started.h"

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 2) {
        return 2;
    }
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr) {
        std::fprintf(stderr, "event_state_probe: OpenEventW failed: error %lu\n", GetLastError());
        return 3;
    }
    const DWORD state = WaitForSingleObject(event, 0);
    CloseHandle(event);
    return state == WAIT_OBJECT_0 ? 0 : 1;
}
