// Test helper: a client process that lives until the named event given as the
// first argument is signalled (or it is killed), then exits with code 0.
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
    const DWORD waited = WaitForSingleObject(event, 60000);
    CloseHandle(event);
    return waited == WAIT_OBJECT_0 ? 0 : 2;
}
