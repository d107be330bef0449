// mailslot_reader <mailslot name> <output file> <message count>
// Creates the mailslot and records every message it receives into the output
// file as a 4-byte little-endian length followed by the message bytes. Ends
// after <message count> messages, after a closing message (version 2, kind
// 256), or when no message arrived for 10 seconds. Exit code: messages read.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "announce_started.h"

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc != 4) {
        return -1;
    }
    const long wanted = std::wcstol(argv[3], nullptr, 10);
    HANDLE slot = CreateMailslotW(argv[1], 0, 10000, nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
        return -2;
    }
    HANDLE out = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(slot);
        return -3;
    }
    int count = 0;
    std::vector<unsigned char> buffer(4096);
    while (count < wanted) {
        DWORD read = 0;
        if (!ReadFile(slot, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            break;
        }
        ++count;
        const std::uint32_t length = read;
        DWORD written = 0;
        WriteFile(out, &length, sizeof(length), &written, nullptr);
        WriteFile(out, buffer.data(), read, &written, nullptr);
        FlushFileBuffers(out);
        std::uint32_t header[2] = {};
        if (read >= sizeof(header)) {
            std::memcpy(header, buffer.data(), sizeof(header));
            if (header[0] == 2 && header[1] == 0x100) {
                break;
            }
        }
    }
    CloseHandle(out);
    CloseHandle(slot);
    return count;
}
