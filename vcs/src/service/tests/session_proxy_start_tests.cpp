#include "service/session_proxy_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "service/list_changed_notifier.h"
#include "service/session_enumeration.h"
#include "service/session_mailslot.h"

namespace {

std::wstring session_name(DWORD id)
{
    return DShowDeviceService::to_wide(DShowDeviceService::session_mailslot_name(static_cast<std::int32_t>(id)));
}

// Session ids far from any real session, so that parallel runs do not meet.
DWORD test_session_base()
{
    return 40000 + (GetCurrentProcessId() % 10000) * 8;
}

TEST(session_enumeration, reports_every_session_in_order_with_its_state)
{
    service::session_source source;
    source.enumerate = [] {
        return std::optional(std::vector<service::session_state>{{0, false}, {3, true}, {1, true}, {5, false}});
    };
    source.active_console_session = []() -> DWORD {
        ADD_FAILURE() << "console asked although the enumeration worked";
        return 1;
    };
    std::vector<std::pair<DWORD, bool>> seen;
    service::for_each_session(source, [&](DWORD id, bool active) { seen.emplace_back(id, active); });
    EXPECT_EQ(seen, (std::vector<std::pair<DWORD, bool>>{{0, false}, {3, true}, {1, true}, {5, false}}));
}

TEST(session_enumeration, failed_enumeration_falls_back_to_the_console_session)
{
    service::session_source source;
    source.enumerate = [] { return std::optional<std::vector<service::session_state>>(); };
    std::vector<std::pair<DWORD, bool>> seen;
    const auto record = [&](DWORD id, bool active) { seen.emplace_back(id, active); };

    source.active_console_session = [] { return DWORD{2}; };
    service::for_each_session(source, record);
    EXPECT_EQ(seen, (std::vector<std::pair<DWORD, bool>>{{2, true}}));

    seen.clear();
    source.active_console_session = [] { return service::no_session; };
    service::for_each_session(source, record);
    EXPECT_TRUE(seen.empty());
}

TEST(on_session_active, opens_existing_mailslots_and_starts_proxies_only_where_none_exists)
{
    const DWORD own = test_session_base();
    const DWORD with_proxy = own + 1;
    const DWORD without_proxy = own + 2;
    const DWORD inactive = own + 3;
    win32::unique_handle proxy_slot(CreateMailslotW(session_name(with_proxy).c_str(), 0, 0, nullptr));
    win32::unique_handle own_slot(CreateMailslotW(session_name(own).c_str(), 0, 0, nullptr));
    ASSERT_NE(proxy_slot.get(), INVALID_HANDLE_VALUE);

    service::list_changed_notifier notifier;
    std::vector<DWORD> started;
    const service::on_session_active on_session(notifier, own, [&](DWORD id) { started.push_back(id); });

    service::session_source source;
    source.enumerate = [&] {
        return std::optional(std::vector<service::session_state>{
            {own, true}, {with_proxy, true}, {without_proxy, true}, {inactive, false}});
    };
    service::for_each_session(source, on_session);

    EXPECT_EQ(started, std::vector<DWORD>{without_proxy});
    EXPECT_EQ(notifier.client_names(), std::vector<std::wstring>{session_name(with_proxy)});
}

TEST(start_session_proxy, starts_nothing_without_a_user_token)
{
    service::session_launcher launcher;
    launcher.query_user_token = [](DWORD) {
        SetLastError(ERROR_NO_TOKEN);
        return win32::unique_handle();
    };
    int launches = 0;
    launcher.launch = [&](HANDLE, const std::wstring&) {
        ++launches;
        return win32::unique_handle();
    };
    EXPECT_FALSE(service::start_session_proxy(1, L"C:\\x\\CamTovraService_SessionProxy.exe", launcher));
    EXPECT_EQ(launches, 0);
}

TEST(start_session_proxy, launches_with_a_primary_token_duplicated_from_the_users)
{
    service::session_launcher launcher;
    DWORD asked_session = service::no_session;
    launcher.query_user_token = [&](DWORD session) {
        asked_session = session;
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token);
        return win32::unique_handle(token);
    };
    TOKEN_TYPE launched_type = TokenImpersonation;
    std::wstring launched_path;
    launcher.launch = [&](HANDLE token, const std::wstring& path) {
        DWORD size = 0;
        GetTokenInformation(token, TokenType, &launched_type, sizeof(launched_type), &size);
        launched_path = path;
        return win32::unique_handle(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()));
    };
    EXPECT_TRUE(service::start_session_proxy(7, L"C:\\svc\\CamTovraService_SessionProxy.exe", launcher));
    EXPECT_EQ(asked_session, 7u);
    EXPECT_EQ(launched_type, TokenPrimary);
    EXPECT_EQ(launched_path, L"C:\\svc\\CamTovraService_SessionProxy.exe");
}

TEST(start_session_proxy, proxy_is_looked_for_beside_the_running_executable)
{
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring expected(own);
    expected.erase(expected.find_last_of(L"\\/") + 1);
    EXPECT_EQ(service::session_proxy_path(), expected + L"CamTovraService_SessionProxy.exe");
}

// The real launch: the user's token of the session (Wine gives one to any
// caller), the default desktop, the user's own environment. The probe reports
// reaching main on an event of a fixed name (it does not get this process's
// environment); the launcher's seam keeps its process to tell a start that
// Wine failed.
TEST(start_session_proxy, program_runs_on_the_default_desktop_with_the_users_environment)
{
    win32::unique_handle report_slot(
        CreateMailslotW(L"\\\\.\\mailslot\\camtovra_tests\\session_probe", 0, 20000, nullptr));
    ASSERT_NE(report_slot.get(), INVALID_HANDLE_VALUE);
    SetEnvironmentVariableW(L"CAMTOVRA_PROBE_MARKER", L"from-the-service");

    const test_support::started_event started(L"Global\\camtovra_session_probe_started");
    const auto probe = test_support::start_until_main("session_probe", [](const test_support::started_event&) {
        service::session_launcher launcher = service::system_session_launcher();
        test_support::child_process launched;
        launcher.launch = [&launched, system = launcher.launch](HANDLE token, const std::wstring& application) {
            win32::unique_handle process = system(token, application);
            HANDLE kept = nullptr;
            if (process && DuplicateHandle(GetCurrentProcess(), process.get(), GetCurrentProcess(), &kept, 0, FALSE,
                                           DUPLICATE_SAME_ACCESS)) {
                launched.process.reset(kept);
                launched.id = GetProcessId(kept);
            }
            return process;
        };
        EXPECT_TRUE(service::start_session_proxy(service::own_session_id(),
                                                 test_support::windows_path(SESSION_PROBE_EXE), launcher));
        return launched;
    }, started);
    ASSERT_TRUE(probe);
    std::wstring report(512, L'\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(report_slot.get(), report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &read,
                         nullptr));
    report.resize(read / sizeof(wchar_t));
    EXPECT_EQ(report, L"desktop=winsta0\\default;marker=none;profile=yes");
}

} // namespace
