// Test helper: a test program that crashes. A thread of its own reads address
// 0xE, as a use of a destroyed object does, outside every handler of the main
// thread. Exit code 4 when it survives the read.
#include <windows.h>

namespace {

// Not a constant: the compiler cannot tell that the read is bad.
volatile ULONG_PTR bad_address = 0xE;

DWORD WINAPI read_bad_address(void*)
{
    return *reinterpret_cast<volatile DWORD*>(bad_address);
}

} // namespace

int main()
{
    const HANDLE thread = CreateThread(nullptr, 0, &read_bad_address, nullptr, 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    return 4;
}
