#pragma once
// The service executable's module: one process that is a Windows service
// (own process) and the out-of-process COM server of the camera stack, or,
// when its AppID names no service, a plain COM local server.
//
// Threads: the service dispatcher calls the handlers on the process's main
// thread; the message loop runs on the service-entry thread (the main thread
// of a local server); COM calls arrive on COM's thread pool.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "atl/class_object_table.h"
#include "atl/com_ptr.h"
#include "atl/server_module.h"
#include "gen_utils/win32_utils.h"

class CServiceMainModule final : public atl::server_module {
public:
    CServiceMainModule();
    ~CServiceMainModule() override;
    CServiceMainModule(const CServiceMainModule&) = delete;
    CServiceMainModule& operator=(const CServiceMainModule&) = delete;

    // False when the module could not be set up (the process then returns -1).
    [[nodiscard]] bool initialized() const noexcept { return initialized_; }

    // The process entry: handles a switch or starts the module. The result is
    // the process's exit code.
    int win_main(std::wstring_view command_line) noexcept;

    // server_module: CoAddRefServerProcess / CoReleaseServerProcess. The last
    // unlock ends a local server; a service only counts down.
    LONG lock() override;
    LONG unlock() override;
    [[nodiscard]] LONG lock_count() const override { return lock_count_.load(); }

    // The process's global interface table, made on first request.
    IGlobalInterfaceTable* global_interface_table();

    [[nodiscard]] const std::wstring& service_name() const noexcept { return service_name_; }

    // Registration (what the switches do); exposed for the switches' tests.
    HRESULT register_app_id(bool as_service, bool per_user);
    HRESULT unregister_app_id(bool per_user);
    HRESULT register_server_auto_start(bool per_user);
    HRESULT unregister_server(bool per_user);

    // The service control handlers.
    void handler(DWORD control) noexcept;
    DWORD handler_ex(DWORD control, DWORD event_type, void* event_data) noexcept;

    [[nodiscard]] DWORD current_state() const noexcept;

private:
    static void WINAPI service_main_entry(DWORD argc, LPWSTR* argv);
    static void WINAPI handler_entry(DWORD control);
    static DWORD WINAPI handler_ex_entry(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context);
    static DWORD WINAPI monitor_entry(LPVOID context);

    HRESULT start() noexcept;
    void service_main() noexcept;
    HRESULT run() noexcept;
    HRESULT start_up();
    void after_message_loop() noexcept;
    void message_loop() noexcept;
    HRESULT initialize_com() noexcept;
    void create_components() noexcept;
    void stop_components() noexcept;
    // Runs one step of the components (the caller holds components_mutex_);
    // what it throws is logged as "CServiceMainModule::<where> failed" and
    // goes no further.
    void run_components_step(void (*step)(), std::string_view where) noexcept;
    void monitor_shutdown() noexcept;

    void set_state(DWORD state) noexcept;
    bool set_state_if(DWORD expected, DWORD state) noexcept;
    void report_status() noexcept;
    // Makes the state `state` (a start stays stop pending once a stop was
    // asked for), advances the check point and reports it.
    void report_pending(DWORD state) noexcept;
    void post_quit() noexcept;
    void log_event(std::wstring_view text) noexcept;

    bool initialized_ = false;
    std::wstring service_name_;
    SERVICE_STATUS status_{};
    SERVICE_STATUS_HANDLE status_handle_ = nullptr;
    std::atomic<DWORD> loop_thread_id_{0};
    bool running_as_service_ = true;
    bool com_initialized_ = false;
    bool delayed_shutdown_ = true;
    win32::unique_handle shutdown_event_;
    win32::unique_handle monitor_thread_;
    std::atomic<bool> activity_{false};
    DWORD monitor_timeout_ms_ = 5000;
    DWORD pause_after_loop_ms_ = 1000;
    std::atomic<LONG> lock_count_{0};
    // Set by STOP and SHUTDOWN: a start-up still running creates no objects,
    // and pause and continue are ignored.
    std::atomic<bool> stop_requested_{false};
    // Guards the components' creation, stop, pause and continue: the loop
    // thread makes and stops them, the handler pauses, continues and shuts
    // them down.
    std::mutex components_mutex_;
    // Guards status_'s check point and wait hint and orders the reports, so
    // that the last report carries the latest state.
    std::mutex status_mutex_;
    CRITICAL_SECTION critical_section_{};
    atl::com_ptr<IGlobalInterfaceTable> global_interface_table_;
    atl::class_object_table class_objects_;
};
