#include "service/service_installer.h"

#include <cstdio>
#include <memory>
#include <type_traits>

#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"

namespace service {

namespace {

struct sc_handle_closer {
    void operator()(SC_HANDLE handle) const noexcept
    {
        if (handle != nullptr) {
            CloseServiceHandle(handle);
        }
    }
};
using unique_sc_handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, sc_handle_closer>;

constexpr DWORD message_box_wait_ms = 30000;

} // namespace

namespace {

struct message_box_request {
    std::wstring text;
    std::wstring title;
};

DWORD WINAPI show_message_box(LPVOID context)
{
    const std::unique_ptr<message_box_request> request(static_cast<message_box_request*>(context));
    MessageBoxW(nullptr, request->text.c_str(), request->title.c_str(), MB_OK | MB_SERVICE_NOTIFICATION);
    return 0;
}

} // namespace

// The text goes to standard error and into a message box. Nobody may be there
// to close the box (an unattended install, a desktop without a display), so
// the installer waits for it at most a while and then goes on.
void service_installer::report(const wchar_t* text) const
{
    try {
        std::fwprintf(stderr, L"%ls: %ls\n", name_.c_str(), text);
        std::fflush(stderr);
        auto request = std::make_unique<message_box_request>(message_box_request{text, name_});
        const win32::unique_handle thread{CreateThread(nullptr, 0, &show_message_box, request.get(), 0, nullptr)};
        if (thread) {
            request.release();
            WaitForSingleObject(thread.get(), message_box_wait_ms);
        }
    } catch (...) {
    }
}

bool service_installer::is_installed() const
{
    const unique_sc_handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) {
        return false;
    }
    const unique_sc_handle service{OpenServiceW(manager.get(), name_.c_str(), SERVICE_QUERY_CONFIG)};
    return static_cast<bool>(service);
}

bool service_installer::install(const std::wstring& module_path) const
{
    if (is_installed()) {
        return true;
    }
    const unique_sc_handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) {
        report(L"Could not open Service Manager");
        return false;
    }
    const std::wstring image = L"\"" + module_path + L"\"";
    const unique_sc_handle service{CreateServiceW(manager.get(), name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                  SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
                                                  L"RPCSS\0", nullptr, nullptr)};
    if (!service) {
        report(L"Could not start service");
        return false;
    }
    return true;
}

bool service_installer::uninstall() const
{
    if (!is_installed()) {
        return true;
    }
    const unique_sc_handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) {
        report(L"Could not open Service Manager");
        return false;
    }
    const unique_sc_handle service{OpenServiceW(manager.get(), name_.c_str(), SERVICE_STOP | DELETE)};
    if (!service) {
        report(L"Could not open service");
        return false;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        const bool not_running = error == ERROR_SERVICE_NOT_ACTIVE;
        const bool stopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
        if (!not_running && !stopping) {
            report(L"Could not stop service");
        }
    }
    if (!DeleteService(service.get())) {
        report(L"Could not delete service");
        return false;
    }
    return true;
}

void service_installer::set_auto_start() const
{
    const unique_sc_handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager) {
        log_line(logging::level_error, "CamTovraService, Failed to change configuration of service to auto start.\n");
        return;
    }
    const unique_sc_handle service{OpenServiceW(manager.get(), name_.c_str(), SERVICE_CHANGE_CONFIG)};
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            log_line(logging::level_error,
                     "CamTovraService, Failed to change configuration of service to auto start.\n");
        }
        return;
    }
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        log_line(logging::level_error, "CamTovraService, Failed to change configuration of service to auto start.\n");
    }
}

} // namespace service
