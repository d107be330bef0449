#pragma once
// Helpers of the service executable's tests: running it with switches,
// reading the registry, driving the service control manager.

#include <windows.h>

#include <string>
#include <string_view>

#include "child_process.h"

namespace service_test {

using test_support::windows_path;

// The built executables, as Windows paths.
std::wstring service_exe();
std::wstring proxy_stub_dll();

// Runs a program with `arguments` and waits for it; its exit code, or
// 0xFFFFFFFF when it could not be started or did not end within 60 s (then it
// is ended).
DWORD run(const std::wstring& program, const std::wstring& arguments);
// Exit code of the two below when another test process holds the service's
// registration in this prefix (registration_user.h); the holder is printed.
inline constexpr DWORD registration_in_use = 0xFFFFFFFE;
// The service executable with `arguments`.
DWORD run_service_exe(const std::wstring& arguments);
// regsvr32 /s of the proxy/stub library.
DWORD register_proxy_stub();

bool key_exists(HKEY root, const std::wstring& path);
// The string value, or "<missing>" when the key or value is not there.
std::wstring read_string(HKEY root, const std::wstring& path, const wchar_t* name);

// Registration of everything removed from both hives, the service deleted.
void remove_all_registration();

// State of the service, 0 when it cannot be queried.
DWORD service_state();
DWORD service_process_id();
// Waits up to 30 s for `state`.
bool wait_for_state(DWORD state);
// Sends a control; the Win32 error (0 on success).
DWORD send_control(DWORD control);
// Starts the service through the service control manager; the Win32 error.
DWORD start_service();
// Stops the service and waits until its process has ended; false when it
// did not (within 30 s).
bool stop_service();

// Ends a local server that runs without a service: its loop thread gets
// WM_QUIT, so it revokes its class objects before it exits.
bool quit_local_server(DWORD process_id);

// "Software\Corvane\CamTovraService" below HKLM.
void set_log_level_dword(DWORD value);
void set_log_level_text(const wchar_t* value);
void remove_log_level();

} // namespace service_test
