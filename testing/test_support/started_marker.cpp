// Compiled into every test program of the Windows build (an interface source
// of gtest_main). Before main runs it creates the file that the test runner,
// wine-run.sh, names in CAMTOVRA_STARTED_MARKER: a program that ended without
// it never reached main, and the runner starts it again (Wine fails a program
// start now and then under full parallel load).
#include <windows.h>

namespace {

bool write_started_marker()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("CAMTOVRA_STARTED_MARKER", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    // The programs this one starts are no test programs of the runner.
    SetEnvironmentVariableA("CAMTOVRA_STARTED_MARKER", nullptr);
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

const bool started_marker_written = write_started_marker();

} // namespace
