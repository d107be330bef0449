// Test helper: opens the named event given as the first argument from another
// process and reports its state. Exit code 0 when it is signalled, 1 when it
// is not, otherwise the Win32 error of the open.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return ERROR_INVALID_PARAMETER;
    }
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr) {
        return static_cast<int>(GetLastError());
    }
    const DWORD state = WaitForSingleObject(event, 0);
    CloseHandle(event);
    return state == WAIT_OBJECT_0 ? 0 : 1;
}
