#include "service_test_support.h"

#include <tlhelp32.h>

#include <cstdio>
#include <memory>
#include <type_traits>
#include <vector>

#include "registration_user.h"

namespace service_test {

namespace {

constexpr const wchar_t* service_name = L"CamTovraService";
constexpr const wchar_t* settings_key = L"Software\\Corvane\\CamTovraService";

struct sc_closer {
    void operator()(SC_HANDLE handle) const noexcept
    {
        if (handle != nullptr) {
            CloseServiceHandle(handle);
        }
    }
};
using unique_sc = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, sc_closer>;

unique_sc open_service(DWORD access)
{
    const unique_sc manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) {
        return {};
    }
    return unique_sc{OpenServiceW(manager.get(), service_name, access)};
}

SERVICE_STATUS_PROCESS query_status()
{
    SERVICE_STATUS_PROCESS status{};
    const unique_sc service = open_service(SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    if (service) {
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                             &needed);
    }
    return status;
}

// Claims the service's registration for this process; false, printed, when
// another test process holds it.
bool claim_registration()
{
    const std::string busy = test_support::claim_service_registration();
    if (!busy.empty()) {
        std::fprintf(stderr, "%s\n", busy.c_str());
        std::fflush(stderr);
    }
    return busy.empty();
}

HKEY open_settings()
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, settings_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

} // namespace

std::wstring service_exe()
{
    return windows_path(CAMTOVRA_SERVICE_EXE);
}

std::wstring proxy_stub_dll()
{
    return windows_path(CAMTOVRA_SERVICE_PS_DLL);
}

DWORD run(const std::wstring& program, const std::wstring& arguments)
{
    const test_support::child_process child = test_support::start_program(program, arguments);
    if (!child) {
        return 0xFFFFFFFF;
    }
    const DWORD code = child.wait(60000);
    if (code == 0xFFFFFFFF) {
        TerminateProcess(child.process.get(), 1);
    }
    return code;
}

DWORD run_service_exe(const std::wstring& arguments)
{
    if (!claim_registration()) {
        return registration_in_use;
    }
    test_support::record_registration_write(service_exe() + L" " + arguments);
    return run(service_exe(), arguments);
}

DWORD register_proxy_stub()
{
    if (!claim_registration()) {
        return registration_in_use;
    }
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    test_support::record_registration_write(L"regsvr32 /s " + proxy_stub_dll());
    return run(std::wstring(system) + L"\\regsvr32.exe", L"/s \"" + proxy_stub_dll() + L"\"");
}

bool key_exists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring read_string(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, &type, buffer, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

void remove_all_registration()
{
    stop_service();
    run_service_exe(L"-UnregServer");
    run_service_exe(L"-UnregServerPerUser");
}

DWORD service_state()
{
    return query_status().dwCurrentState;
}

DWORD service_process_id()
{
    return query_status().dwProcessId;
}

bool wait_for_state(DWORD state)
{
    for (int i = 0; i < 300; ++i) {
        if (service_state() == state) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

DWORD send_control(DWORD control)
{
    const unique_sc service =
        open_service(SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL);
    if (!service) {
        return GetLastError();
    }
    SERVICE_STATUS status{};
    return ControlService(service.get(), control, &status) ? ERROR_SUCCESS : GetLastError();
}

DWORD start_service()
{
    const unique_sc service = open_service(SERVICE_START);
    if (!service) {
        return GetLastError();
    }
    return StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
}

bool stop_service()
{
    const DWORD state = service_state();
    if (state == 0 || state == SERVICE_STOPPED) {
        return true;
    }
    // The service reports stopped before its process has torn down and let
    // go of its camera: the process is waited for as well.
    const DWORD id = service_process_id();
    HANDLE process = id != 0 ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr;
    for (int i = 0; i < 100 && service_state() != SERVICE_STOPPED; ++i) {
        send_control(SERVICE_CONTROL_STOP);
        Sleep(100);
    }
    bool stopped = wait_for_state(SERVICE_STOPPED);
    if (process != nullptr) {
        if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "the stopped service's process %lu did not end within 30 s\n",
                         static_cast<unsigned long>(id));
            stopped = false;
        }
        CloseHandle(process);
    }
    return stopped;
}

bool quit_local_server(DWORD process_id)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
    if (process == nullptr) {
        return false;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    // The first thread of the process runs its message loop.
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == process_id) {
            PostThreadMessageW(entry.th32ThreadID, WM_QUIT, 0, 0);
            break;
        }
    }
    CloseHandle(snapshot);
    const bool ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void set_log_level_dword(DWORD value)
{
    HKEY key = open_settings();
    RegSetValueExW(key, L"service_log_level", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void set_log_level_text(const wchar_t* value)
{
    HKEY key = open_settings();
    RegSetValueExW(key, L"service_log_level", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void remove_log_level()
{
    HKEY key = open_settings();
    RegDeleteValueW(key, L"service_log_level");
    RegCloseKey(key);
}

} // namespace service_test
