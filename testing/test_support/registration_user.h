#pragma once
// The service's registration in the prefix (its AppID, class, type library,
// service entry and the interface keys of its proxy/stub library) is one for
// every test. A test that writes it (the service executable's registration
// switches, regsvr32 of the proxy/stub library) or starts client processes
// that rely on it must run beside no other such test: ctest keeps them apart
// with RESOURCE_LOCK camtovra_service_registration.
//
// Such a test process claims the registration for the rest of its life with a
// named mutex, and records each write it makes. A test that finds the
// registration claimed by another process fails, naming that process, rather
// than seeing the keys change under its clients; a test whose registration
// changed under it can tell who wrote it last.

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace test_support {

namespace registration_detail {

inline constexpr const wchar_t* record_key = L"Software\\CamTovraTests\\ServiceRegistration";

inline std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// "<program> (process <id>)" of this process.
inline std::wstring this_process()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    return name + L" (process " + std::to_wstring(GetCurrentProcessId()) + L")";
}

inline void write_record(const wchar_t* value_name, const std::wstring& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, record_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

inline std::wstring read_record(const wchar_t* value_name)
{
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, record_key, value_name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return L"nobody on record";
    }
    return text;
}

inline void write_process_record(DWORD id)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, record_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key, L"user process", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&id), sizeof(id));
    RegCloseKey(key);
}

inline DWORD read_process_record()
{
    DWORD id = 0;
    DWORD size = sizeof(id);
    RegGetValueW(HKEY_CURRENT_USER, record_key, L"user process", RRF_RT_REG_DWORD, nullptr, &id, &size);
    return id;
}

// True while the process with `id` runs.
inline bool process_runs(DWORD id)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
        return false;
    }
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

} // namespace registration_detail

// Claims the service's registration for this process. Empty when this
// process holds it, otherwise what holds it. A claim whose process has ended
// is waited for (bounded) until the system has released it; the claim of a
// process that still runs fails this one at once. The claim ends with the
// process.
inline std::string claim_service_registration()
{
    using namespace registration_detail;
    static std::mutex claim_mutex;
    static HANDLE claim = nullptr; // guarded by claim_mutex; held until the process ends
    std::lock_guard lock(claim_mutex);
    if (claim != nullptr) {
        return {};
    }
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"CamTovraTests_ServiceRegistration");
    if (mutex == nullptr) {
        return "the claim on the service's registration could not be made: error " + std::to_string(GetLastError());
    }
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT && !process_runs(read_process_record())) {
        waited = WaitForSingleObject(mutex, 5000);
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return "the service's registration in this prefix is in use by " + narrow(read_record(L"user")) +
               ", which still runs: two tests that write it or rely on it ran beside each other (RESOURCE_LOCK "
               "camtovra_service_registration)";
    }
    claim = mutex;
    write_record(L"user", this_process());
    write_process_record(GetCurrentProcessId());
    return {};
}

// Notes that this process is about to change the registration with `what`.
inline void record_registration_write(const std::wstring& what)
{
    registration_detail::write_record(L"last writer", registration_detail::this_process() + L": " + what);
}

// Who last changed the registration, as recorded.
inline std::string last_registration_writer()
{
    return registration_detail::narrow(registration_detail::read_record(L"last writer"));
}

} // namespace test_support
