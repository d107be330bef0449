#include "service/service_main_module.h"

#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "atl/registry_script.h"
#include "atl/type_library.h"
#include "gen_utils/async_logger.h"
#include "gen_utils/log.h"
#include "gen_utils/registry.h"
#include "gen_utils/string_conv.h"
#include "service/command_line.h"
#include "service/server_registration.h"
#include "service/service_components.h"
#include "service/service_holders.h"
#include "service/service_installer.h"

namespace {

constexpr UINT service_name_string_id = 100;
constexpr DWORD accepted_controls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
constexpr const wchar_t* settings_key = L"Software\\Corvane\\CamTovraService";
// The time the manager is told one step of a start or a stop may take: a
// step joins threads of the camera layer, which a loaded machine slows down.
constexpr DWORD pending_step_wait_hint_ms = 30000;

CServiceMainModule* the_module = nullptr;

std::wstring module_path()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

std::wstring load_service_name()
{
    wchar_t buffer[256] = {};
    const int length = LoadStringW(GetModuleHandleW(nullptr), service_name_string_id, buffer, 256);
    return length > 0 ? std::wstring(buffer, static_cast<std::size_t>(length)) : std::wstring(L"CamTovraService");
}

// True when the AppID's "LocalService" is a string value with its terminating zero.
bool names_a_service(HKEY app_id)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(app_id, L"LocalService", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0) {
        return false;
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t));
    DWORD read = size;
    if (RegQueryValueExW(app_id, L"LocalService", nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &read) !=
            ERROR_SUCCESS ||
        read != size) {
        return false;
    }
    return text.back() == L'\0';
}

// The configured level from "service_log_level" (a REG_DWORD of exactly 4
// bytes); anything else leaves the level as it is.
void read_configured_log_level()
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_key, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return;
    }
    const utils::unique_hkey key{raw};
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), L"service_log_level", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(value)) {
        service_log_level.store(value & 0xFF);
    }
}

LSTATUS open_app_id(HKEY classes_root, REGSAM access, utils::unique_hkey& key)
{
    HKEY raw = nullptr;
    const LSTATUS status = RegOpenKeyExW(classes_root, service::app_id_key, 0, access, &raw);
    key.reset(raw);
    return status;
}

// Applies `work` below the machine's or the user's classes root.
template <class Work>
HRESULT with_classes_root(bool per_user, Work&& work)
{
    LSTATUS status = ERROR_SUCCESS;
    HKEY root = atl::open_classes_root(per_user, &status);
    if (root == nullptr) {
        return HRESULT_FROM_WIN32(status);
    }
    const HRESULT hr = work(root);
    atl::close_classes_root(root);
    return hr;
}

} // namespace

CServiceMainModule::CServiceMainModule() : class_objects_(service::class_object_entries())
{
    initialized_ = InitializeCriticalSectionAndSpinCount(&critical_section_, 0) != FALSE;
    try {
        service_name_ = load_service_name();
    } catch (...) {
        initialized_ = false;
    }
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = SERVICE_STOPPED;
    status_.dwControlsAccepted = accepted_controls;
    loop_thread_id_ = GetCurrentThreadId();
    the_module = this;
    atl::set_current_module(this);
}

CServiceMainModule::~CServiceMainModule()
{
    try {
        service::discover_service_instance().exchange(nullptr).reset();
    } catch (...) {
    }
    atl::set_current_module(nullptr);
    the_module = nullptr;
    if (initialized_) {
        DeleteCriticalSection(&critical_section_);
    }
}

int CServiceMainModule::win_main(std::wstring_view command_line) noexcept
{
    using service::command_switch;
    const command_switch which = service::parse_command_line(command_line);
    if (which == command_switch::none) {
        return static_cast<int>(start());
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr = S_OK;
    switch (which) {
    case command_switch::unreg_server:
    case command_switch::unreg_server_per_user: {
        const bool per_user = which == command_switch::unreg_server_per_user;
        hr = unregister_server(per_user);
        if (SUCCEEDED(hr)) {
            hr = unregister_app_id(per_user);
        }
        break;
    }
    case command_switch::reg_server:
    case command_switch::reg_server_per_user: {
        const bool per_user = which == command_switch::reg_server_per_user;
        hr = register_app_id(false, per_user);
        if (SUCCEEDED(hr)) {
            hr = register_server_auto_start(per_user);
        }
        break;
    }
    case command_switch::service:
        hr = register_app_id(true, false);
        if (SUCCEEDED(hr)) {
            hr = register_server_auto_start(false);
        }
        break;
    case command_switch::none:
        break;
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return static_cast<int>(hr);
}

LONG CServiceMainModule::lock()
{
    const LONG count = static_cast<LONG>(CoAddRefServerProcess());
    lock_count_ = count;
    return count;
}

LONG CServiceMainModule::unlock()
{
    const LONG left = static_cast<LONG>(CoReleaseServerProcess());
    lock_count_ = left;
    if (left == 0 && !running_as_service_) {
        if (delayed_shutdown_ && shutdown_event_) {
            activity_ = true;
            SetEvent(shutdown_event_.get());
        } else {
            post_quit();
        }
    }
    return left;
}

IGlobalInterfaceTable* CServiceMainModule::global_interface_table()
{
    EnterCriticalSection(&critical_section_);
    if (!global_interface_table_) {
        CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                         global_interface_table_.put_void());
    }
    IGlobalInterfaceTable* table = global_interface_table_.get();
    LeaveCriticalSection(&critical_section_);
    return table;
}

HRESULT CServiceMainModule::register_app_id(bool as_service, bool per_user)
{
    try {
        return with_classes_root(per_user, [&](HKEY root) {
            const HRESULT hr =
                atl::apply_registry_script(root, service::registry_script_101(), service::registry_replacements(), true);
            if (FAILED(hr)) {
                return hr;
            }
            utils::unique_hkey key;
            if (const LSTATUS status = open_app_id(root, KEY_READ | KEY_WRITE, key); status != ERROR_SUCCESS) {
                return HRESULT_FROM_WIN32(status);
            }
            if (!as_service) {
                RegDeleteValueW(key.get(), L"LocalService");
                return S_OK;
            }
            const DWORD bytes = static_cast<DWORD>((service_name_.size() + 1) * sizeof(wchar_t));
            if (const LSTATUS status = RegSetValueExW(key.get(), L"LocalService", 0, REG_SZ,
                                                      reinterpret_cast<const BYTE*>(service_name_.c_str()), bytes);
                status != ERROR_SUCCESS) {
                return HRESULT_FROM_WIN32(status);
            }
            return service::service_installer(service_name_).install(module_path()) ? S_OK : E_FAIL;
        });
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CServiceMainModule::unregister_app_id(bool per_user)
{
    try {
        if (!service::service_installer(service_name_).uninstall()) {
            return E_FAIL;
        }
        return with_classes_root(per_user, [&](HKEY root) {
            utils::unique_hkey key;
            if (open_app_id(root, KEY_READ | KEY_WRITE, key) == ERROR_SUCCESS) {
                RegDeleteValueW(key.get(), L"LocalService");
                key.reset();
            }
            return atl::apply_registry_script(root, service::registry_script_101(), service::registry_replacements(),
                                              false);
        });
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CServiceMainModule::register_server_auto_start(bool per_user)
{
    try {
        HRESULT hr = with_classes_root(per_user, [&](HKEY root) {
            return class_objects_.update_registry(root, service::registry_replacements(), true);
        });
        if (SUCCEEDED(hr)) {
            hr = atl::register_module_type_library(per_user);
        }
        if (SUCCEEDED(hr) && running_as_service_) {
            service::service_installer(service_name_).set_auto_start();
        }
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CServiceMainModule::unregister_server(bool per_user)
{
    try {
        HRESULT hr = with_classes_root(per_user, [&](HKEY root) {
            return class_objects_.update_registry(root, service::registry_replacements(), false);
        });
        if (SUCCEEDED(hr)) {
            hr = atl::unregister_module_type_library(per_user);
        }
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CServiceMainModule::start() noexcept
{
    try {
        utils::unique_hkey app_id;
        if (const LSTATUS status = open_app_id(HKEY_CLASSES_ROOT, KEY_READ, app_id); status != ERROR_SUCCESS) {
            return static_cast<HRESULT>(status);
        }
        running_as_service_ = names_a_service(app_id.get());
        app_id.reset();

        if (running_as_service_) {
            SERVICE_TABLE_ENTRYW table[] = {{service_name_.data(), &CServiceMainModule::service_main_entry},
                                            {nullptr, nullptr}};
            if (!StartServiceCtrlDispatcherW(table)) {
                return static_cast<HRESULT>(GetLastError());
            }
            return static_cast<HRESULT>(status_.dwWin32ExitCode);
        }

        loop_thread_id_ = GetCurrentThreadId();
        MSG message;
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        if (const HRESULT hr = initialize_com(); FAILED(hr)) {
            return hr;
        }
        const HRESULT hr = run();
        if (com_initialized_) {
            CoUninitialize();
            com_initialized_ = false;
        }
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CServiceMainModule::initialize_com() noexcept
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE && GetModuleHandleW(L"Mscoree.dll") != nullptr) {
        return S_OK;
    }
    if (FAILED(hr)) {
        return hr;
    }
    com_initialized_ = true;
    return S_OK;
}

void WINAPI CServiceMainModule::service_main_entry(DWORD, LPWSTR*)
{
    if (the_module != nullptr) {
        the_module->service_main();
    }
}

void WINAPI CServiceMainModule::handler_entry(DWORD control)
{
    if (the_module != nullptr) {
        the_module->handler(control);
    }
}

DWORD WINAPI CServiceMainModule::handler_ex_entry(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context)
{
    auto* module = static_cast<CServiceMainModule*>(context);
    return module != nullptr ? module->handler_ex(control, event_type, event_data) : NO_ERROR;
}

void CServiceMainModule::service_main() noexcept
{
    set_state(SERVICE_START_PENDING);
    loop_thread_id_ = GetCurrentThreadId();
    // The loop thread gets its message queue before any handler can post
    // WM_QUIT to it: a STOP that comes at once must not be lost.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    status_handle_ = RegisterServiceCtrlHandlerW(service_name_.c_str(), &CServiceMainModule::handler_entry);
    if (status_handle_ == nullptr) {
        log_event(L"Handler not installed");
        return;
    }
    report_pending(SERVICE_START_PENDING);

    HRESULT result = initialize_com();
    delayed_shutdown_ = false;
    if (SUCCEEDED(result)) {
        result = run();
    }
    status_.dwWin32ExitCode = static_cast<DWORD>(result);
    if (com_initialized_) {
        CoUninitialize();
        com_initialized_ = false;
    }
    set_state(SERVICE_STOPPED);
    report_status();
    log_event(L"Service stopped");
}

HRESULT CServiceMainModule::run() noexcept
{
    HRESULT hr = E_FAIL;
    try {
        hr = start_up();
    } catch (const std::exception& e) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::run, start-up failed: {}\n", e.what());
        hr = E_FAIL;
    } catch (...) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::run, start-up failed\n");
        hr = E_FAIL;
    }
    if (hr == S_OK) {
        message_loop();
    }
    if (SUCCEEDED(hr)) {
        // The stop's work, on this thread: the handler that asked for it has
        // reported the stop pending and returned. A local server ends without
        // a stop control; what the holders keep goes here too, while COM is
        // up and its threads can still be joined.
        stop_components();
        report_pending(SERVICE_STOP_PENDING);
        after_message_loop();
    } else {
        // A failed start-up leaves nothing registered or running behind it.
        class_objects_.revoke();
        stop_components();
        utils::async_logger::instance().stop();
    }
    return hr;
}

HRESULT CServiceMainModule::start_up()
{
    if (IsDebuggerPresent()) {
        lock();
    }
    if (running_as_service_) {
        InterlockedOr(reinterpret_cast<volatile LONG*>(&status_.dwControlsAccepted), SERVICE_ACCEPT_SESSIONCHANGE);
        status_handle_ =
            RegisterServiceCtrlHandlerExW(service_name_.c_str(), &CServiceMainModule::handler_ex_entry, this);
        if (status_handle_ == nullptr) {
            log_event(L"Handler not installed");
            return S_FALSE;
        }
        // The service holds a server reference of its own while it runs, so
        // the last client leaving never suspends its class objects.
        lock();
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_DEFAULT,
                             nullptr, EOAC_APPID, nullptr);
    } else {
        lock();
    }

    HRESULT hr = class_objects_.register_class_objects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
    if (hr == S_OK) {
        if (!running_as_service_ && delayed_shutdown_) {
            shutdown_event_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
            if (shutdown_event_) {
                monitor_thread_.reset(CreateThread(nullptr, 0, &CServiceMainModule::monitor_entry, this, 0, nullptr));
            }
            if (!monitor_thread_) {
                hr = E_FAIL;
            }
        }
        if (hr == S_OK) {
            hr = CoResumeClassObjects();
            if (FAILED(hr)) {
                class_objects_.revoke();
            }
        }
    }

    service_log_level.store(0);
    log_category_mask.store(0);
    utils::async_logger::instance().start();
    read_configured_log_level();
    report_pending(SERVICE_START_PENDING);
    create_components();
    // Running is reported once the objects exist: a client that sees it finds
    // them, and the controls it allows (pause, continue) never meet a
    // start-up under way. A stop that came meanwhile has made the state stop
    // pending, and the compare-exchange leaves it so.
    if (hr == S_OK && running_as_service_ && set_state_if(SERVICE_START_PENDING, SERVICE_RUNNING)) {
        log_event(L"Service started/resumed");
        report_status();
    }
    return hr;
}

void CServiceMainModule::create_components() noexcept
{
    const std::lock_guard components_lock(components_mutex_);
    if (stop_requested_) {
        return;
    }
    run_components_step(&service::components::create, "create_components,");
    // A stop that came while the objects were made is carried out by the
    // loop thread (this one) once start-up returns: the loop ends at once on
    // the quit message the handler posted.
}

void CServiceMainModule::stop_components() noexcept
{
    const std::lock_guard components_lock(components_mutex_);
    run_components_step(&service::components::stop, "stop_components,");
}

void CServiceMainModule::run_components_step(void (*step)(), std::string_view where) noexcept
{
    try {
        step();
    } catch (const std::exception& e) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::{} failed: {}\n", where, e.what());
    } catch (...) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::{} failed\n", where);
    }
}

void CServiceMainModule::message_loop() noexcept
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CServiceMainModule::after_message_loop() noexcept
{
    utils::async_logger::instance().stop();
    class_objects_.revoke();
    if (delayed_shutdown_) {
        Sleep(pause_after_loop_ms_);
    }
}

DWORD WINAPI CServiceMainModule::monitor_entry(LPVOID context)
{
    static_cast<CServiceMainModule*>(context)->monitor_shutdown();
    return 0;
}

void CServiceMainModule::monitor_shutdown() noexcept
{
    for (;;) {
        WaitForSingleObject(shutdown_event_.get(), INFINITE);
        DWORD wait = WAIT_OBJECT_0;
        do {
            activity_ = false;
            wait = WaitForSingleObject(shutdown_event_.get(), monitor_timeout_ms_);
        } while (wait == WAIT_OBJECT_0);
        if (!activity_ && lock_count_ == 0) {
            CoSuspendClassObjects();
            if (!activity_ && lock_count_ == 0) {
                break;
            }
        }
    }
    post_quit();
}

void CServiceMainModule::handler(DWORD control) noexcept
{
    // A component that fails is logged; the state change still follows, so no
    // control leaves the service pending. The components' lock keeps pause,
    // continue and shutdown off a start-up or a stop under way.
    const auto guarded = [this, control](void (*operation)()) {
        const std::lock_guard components_lock(components_mutex_);
        // Formatted on the stack: the handler may not throw.
        char where[32];
        const auto written = fmt::format_to_n(where, sizeof where, "handler, control {}", control);
        run_components_step(operation, std::string_view(where, std::min(written.size, sizeof where)));
    };
    switch (control) {
    case SERVICE_CONTROL_STOP:
        // The manager waits for this handler and takes a slow one for a hung
        // service: the stop is reported pending at once and its work (the
        // components' stop, which joins their threads) runs on the loop
        // thread, whether it is in its loop or still starting up.
        stop_requested_ = true;
        report_pending(SERVICE_STOP_PENDING);
        post_quit();
        break;
    case SERVICE_CONTROL_PAUSE:
        if (stop_requested_) {
            break;
        }
        guarded(&service::components::pause);
        set_state(SERVICE_PAUSED);
        report_status();
        break;
    case SERVICE_CONTROL_CONTINUE:
        if (stop_requested_) {
            break;
        }
        guarded(&service::components::resume);
        set_state(SERVICE_RUNNING);
        report_status();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        stop_requested_ = true;
        guarded(&service::components::stop);
        utils::async_logger::instance().stop();
        break;
    default:
        log_event(L"Bad service request");
        break;
    }
}

DWORD CServiceMainModule::handler_ex(DWORD control, DWORD event_type, void* event_data) noexcept
{
    if (control != SERVICE_CONTROL_SESSIONCHANGE) {
        handler(control);
        return NO_ERROR;
    }
    if (event_type != WTS_SESSION_LOGON || event_data == nullptr) {
        return NO_ERROR;
    }
    try {
        const auto* notification = static_cast<const WTSSESSION_NOTIFICATION*>(event_data);
        service::components::on_session_logon(notification->dwSessionId);
    } catch (...) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::handler_ex, session logon failed\n");
    }
    return NO_ERROR;
}

DWORD CServiceMainModule::current_state() const noexcept
{
    return InterlockedCompareExchange(
        const_cast<volatile LONG*>(reinterpret_cast<const volatile LONG*>(&status_.dwCurrentState)), 0, 0);
}

void CServiceMainModule::set_state(DWORD state) noexcept
{
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&status_.dwCurrentState), static_cast<LONG>(state));
}

bool CServiceMainModule::set_state_if(DWORD expected, DWORD state) noexcept
{
    return InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&status_.dwCurrentState),
                                      static_cast<LONG>(state), static_cast<LONG>(expected)) ==
           static_cast<LONG>(expected);
}

void CServiceMainModule::report_status() noexcept
{
    const std::lock_guard status_lock(status_mutex_);
    // A settled state carries no progress; a pending one keeps the last step's.
    const DWORD state = current_state();
    if (state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING) {
        status_.dwCheckPoint = 0;
        status_.dwWaitHint = 0;
    }
    if (status_handle_ != nullptr) {
        SetServiceStatus(status_handle_, &status_);
    }
}

void CServiceMainModule::report_pending(DWORD state) noexcept
{
    {
        const std::lock_guard status_lock(status_mutex_);
        // A start that a stop has overtaken stays stop pending.
        if (state == SERVICE_STOP_PENDING || !stop_requested_) {
            set_state(state);
        }
        ++status_.dwCheckPoint;
        status_.dwWaitHint = pending_step_wait_hint_ms;
    }
    report_status();
}

void CServiceMainModule::post_quit() noexcept
{
    if (!PostThreadMessageW(loop_thread_id_, WM_QUIT, 0, 0)) {
        log_line(logging::level_error, "[CamTovra] CServiceMainModule::post_quit, PostThreadMessageW failed: {}\n",
                 GetLastError());
    }
}

void CServiceMainModule::log_event(std::wstring_view text) noexcept
{
    try {
        const std::wstring line(text.substr(0, 255));
        if (!running_as_service_) {
            const std::string utf8 = utils::to_utf8(line) + "\n";
            std::fwrite(utf8.data(), 1, utf8.size(), stdout);
            std::fflush(stdout);
        }
        HANDLE source = RegisterEventSourceW(nullptr, service_name_.c_str());
        if (source != nullptr) {
            const wchar_t* strings[] = {line.c_str()};
            ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
            DeregisterEventSource(source);
        }
    } catch (...) {
    }
}
