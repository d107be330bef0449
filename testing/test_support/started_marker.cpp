// Compiled into every test program of the Windows build (an interface source
// of gtest_main). The test runner, wine-run.sh, names a file in
// CAMTOVRA_STARTED_MARKER, and this file tells it two moments of the program's
// life through that file:
//  - before main it creates the file: a program that ended without it never
//    reached main, and the runner starts it again (Wine fails a program start
//    now and then under full parallel load);
//  - the last handler of the exit sequence writes "teardown finished" into it,
//    after every static destructor of the program has run. The runner forgives
//    Wine's loader aborting after that point only, never a crash before it.
#include <windows.h>

#include <cstdlib>

namespace {

char marker_path[MAX_PATH] = {};

void write_marker(const char* text, DWORD length)
{
    const HANDLE file =
        CreateFileA(marker_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    if (length != 0) {
        WriteFile(file, text, length, &written, nullptr);
    }
    CloseHandle(file);
}

void write_teardown_finished()
{
    static const char text[] = "teardown finished\n";
    write_marker(text, sizeof(text) - 1);
}

// Runs before every ordinary static constructor of the program, so the exit
// handler it registers is the first one registered and, the exit handlers
// running in reverse order, the last one to run: after the destructors of
// every static object constructed later (gtest's, the logger's, the tests').
__attribute__((constructor(101))) void write_started_marker()
{
    const DWORD length = GetEnvironmentVariableA("CAMTOVRA_STARTED_MARKER", marker_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        marker_path[0] = '\0';
        return;
    }
    // The programs this one starts are no test programs of the runner.
    SetEnvironmentVariableA("CAMTOVRA_STARTED_MARKER", nullptr);
    write_marker(nullptr, 0);
    std::atexit(write_teardown_finished);
}

} // namespace
