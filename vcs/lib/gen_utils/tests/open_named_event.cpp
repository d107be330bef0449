// Test helper: opens the named event given as the first argument and signals
// it. Exit code 0 on success, else the Win32 error of the open.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return ERROR_INVALID_PARAMETER;
    }
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr) {
        return static_cast<int>(GetLastError());
    }
    SetEvent(event);
    CloseHandle(event);
    return 0;
}
