// Test helper: a client process that lives until the named event given as the
// first argument is signalled (or it is killed), then exits with code 0.
// Exit code 2 when 60 s passed first, 3 when the event cannot be opened (the
// error printed), 4 without an argument.
#include <windows.h>

#include <cstdio>

#include "announce_started.h"

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 2) {
        return 4;
    }
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr) {
        std::fprintf(stderr, "wait_for_event: OpenEventW failed: error %lu\n", GetLastError());
        return 3;
    }
    const DWORD waited = WaitForSingleObject(event, 60000);
    CloseHandle(event);
    return waited == WAIT_OBJECT_0 ? 0 : 2;
}
