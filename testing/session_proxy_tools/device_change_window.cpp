// device_change_window <window title> <output file>
// A top-level window, as an application that watches for cameras has one.
// Records the first WM_DEVICECHANGE with a device-interface record into the
// output file as UTF-16 text
// "event=<wParam hex>;size=<dbcc_size>;type=<devicetype>;reserved=<n>;class=<GUID>;name=<dbcc_name>;tail=<zero|junk>"
// and ends (exit code 0). Ends by itself after 20 seconds (exit code 1); exit
// code 2 for bad arguments, 3 when the window cannot be made.
#include <windows.h>
#include <dbt.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "announce_started.h"

namespace {
std::wstring output_path;

void record(WPARAM event, const DEV_BROADCAST_HDR* header)
{
    std::wstring text = L"event=";
    wchar_t number[32];
    swprintf(number, 32, L"%#llx", static_cast<unsigned long long>(event));
    text += number;
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
        header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
        const std::size_t name_chars = (record->dbcc_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / 2;
        const std::wstring name(record->dbcc_name, wcsnlen(record->dbcc_name, name_chars));
        wchar_t guid[64] = {};
        StringFromGUID2(record->dbcc_classguid, guid, 64);
        // Everything after the name's zero, up to dbcc_size, must be zero.
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        bool zero_tail = true;
        for (std::size_t i = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + name.size() * 2;
             i < record->dbcc_size; ++i) {
            zero_tail = zero_tail && bytes[i] == 0;
        }
        text += L";size=" + std::to_wstring(record->dbcc_size) + L";type=" + std::to_wstring(record->dbcc_devicetype) +
                L";reserved=" + std::to_wstring(record->dbcc_reserved) + L";class=" + guid + L";name=" + name +
                L";tail=" + (zero_tail ? L"zero" : L"junk");
    }
    HANDLE file = CreateFileW(output_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
        CloseHandle(file);
    }
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DEVICECHANGE:
        record(wparam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam));
        PostQuitMessage(0);
        return TRUE;
    case WM_TIMER:
        PostQuitMessage(1);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    test_support::announce_started();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 3) {
        return 2;
    }
    output_path = argv[2];
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"CamTovraTestDeviceChangeWindow";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 3;
    }
    SetTimer(window, 1, 20000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
