// End to end, several processes: the service executable (started by the
// service control manager), the session proxy, mailslot readers and writers.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "camtovra_service.h"
#include "child_process.h"
#include "com_transport.h"
#include "gen_utils/win32_utils.h"
#include "service/session_enumeration.h"
#include "service/session_mailslot.h"
#include "service/session_proxy_start.h"
#include "service_test_support.h"

namespace {
using namespace service_test;

struct bstr {
    BSTR text;
    explicit bstr(const std::wstring& value) : text(SysAllocStringLen(value.data(), static_cast<UINT>(value.size()))) {}
    ~bstr() { SysFreeString(text); }
};

using test_support::child_process;

DWORD exit_code_after(const child_process& child, DWORD timeout_ms)
{
    if (WaitForSingleObject(child.process.get(), timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), 99);
        return 0xDEAD;
    }
    return child.wait(0);
}

bool mailslot_exists(const std::wstring& name)
{
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

bool wait_for_mailslot(const std::wstring& name)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (mailslot_exists(name)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

void write_event(const std::wstring& mailslot, std::uint32_t kind, std::u16string_view key)
{
    const auto event = DShowDeviceService::make_mailslot_event(kind, {}, key);
    HANDLE writer = CreateFileW(mailslot.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer, &event, sizeof(event), &written, nullptr));
    CloseHandle(writer);
}

std::wstring own_session_mailslot()
{
    return DShowDeviceService::to_wide(
        DShowDeviceService::session_mailslot_name(static_cast<std::int32_t>(service::own_session_id())));
}

class service_end_to_end : public ::testing::Test {
protected:
    void SetUp() override
    {
        remove_all_registration();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    void TearDown() override
    {
        release_discovery();
        remove_all_registration();
        CoUninitialize();
    }
    // Registers the service and starts it through COM activation; the first
    // call asks its process id. Both steps are tried again when Wine's
    // transport failed them.
    void start_running_service()
    {
        using test_support::retry_transport;
        using test_support::transport_step;
        ASSERT_EQ(run_service_exe(L"-Service"), 0u);
        ASSERT_EQ(register_proxy_stub(), 0u);
        ASSERT_EQ(retry_transport("CoCreateInstance(CamTovraDiscoverService)", transport_step::activation, &IID_ICamTovraDiscoverService,
                                  [&] {
                                      return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr,
                                                              CLSCTX_LOCAL_SERVER, IID_ICamTovraDiscoverService,
                                                              reinterpret_cast<void**>(&discovery));
                                  }),
                  S_OK);
        std::uint64_t process_id = 0;
        ASSERT_EQ(retry_transport("GetServiceProperty(process id)", transport_step::first_call, &IID_ICamTovraDiscoverService,
                                  [&] {
                                      ULONG size = 0;
                                      return discovery->GetServiceProperty(
                                          26, reinterpret_cast<unsigned char*>(&process_id), 8, &size);
                                  }),
                  S_OK);
        ASSERT_EQ(service_state(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(process_id, service_process_id());
    }

    // Waits until the service holds a registration of `mailslot` (the session
    // proxy registers its mailslot after creating it). Seen from outside only
    // this way: RemoveEventMailslot answers S_OK when there was one (S_FALSE
    // when not), and the registration is made again at once, so the service
    // holds one as before.
    bool wait_until_registered(const std::wstring& mailslot)
    {
        const bstr name(mailslot);
        for (int attempt = 0; attempt < 2000; ++attempt) {
            const HRESULT removed = discovery->RemoveEventMailslot(GetCurrentProcessId(), name.text);
            if (removed == S_OK) {
                return test_support::report_failure("RegisterEventMailslot",
                                                    discovery->RegisterEventMailslot(GetCurrentProcessId(),
                                                                                     name.text)) == S_OK;
            }
            if (removed != S_FALSE) {
                test_support::report_failure("RemoveEventMailslot", removed);
                return false;
            }
            Sleep(10);
        }
        return false;
    }

    // Before the service stops: no call goes to a server that has ended.
    void release_discovery()
    {
        if (discovery != nullptr) {
            discovery->Release();
            discovery = nullptr;
        }
    }
    void stop_running_service()
    {
        release_discovery();
        stop_service();
    }

    ICamTovraDiscoverService* discovery = nullptr;
};

TEST_F(service_end_to_end, registered_mailslot_receives_one_closing_message_when_the_service_stops)
{
    start_running_service();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring name = L"\\\\.\\mailslot\\camtovra_tests\\" + win32::make_unique_global_name(L"e2e_").substr(7);
    const std::wstring output = std::wstring(temp) + name.substr(name.rfind(L'\\') + 1) + L".bin";
    const child_process reader =
        test_support::start_helper(MAILSLOT_READER_EXE, L"\"" + name + L"\" \"" + output + L"\" 10");
    ASSERT_TRUE(reader);
    ASSERT_TRUE(wait_for_mailslot(name));

    // A name registered twice holds one place: one removal removes it, and
    // the registration made again is the one left.
    EXPECT_EQ(discovery->RegisterEventMailslot(GetCurrentProcessId(), bstr(name).text), S_OK);
    EXPECT_EQ(discovery->RegisterEventMailslot(GetCurrentProcessId(), bstr(name).text), S_OK);
    EXPECT_EQ(discovery->RemoveEventMailslot(GetCurrentProcessId(), bstr(name).text), S_OK);
    EXPECT_EQ(discovery->RemoveEventMailslot(GetCurrentProcessId(), bstr(name).text), S_FALSE);
    EXPECT_EQ(discovery->RegisterEventMailslot(GetCurrentProcessId(), bstr(name).text), S_OK);

    // Only mailslots of this machine's mailslot namespace are written to.
    const std::wstring file = std::wstring(temp) + L"camtovra_e2e_target.txt";
    for (const std::wstring& refused : {file, std::wstring(L"\\\\.\\pipe\\x"), std::wstring(L"\\\\.\\mailslot\\..\\x")}) {
        EXPECT_EQ(discovery->RegisterEventMailslot(GetCurrentProcessId(), bstr(refused).text), E_INVALIDARG);
    }
    EXPECT_EQ(discovery->RegisterEventMailslot(GetCurrentProcessId(), bstr(name + L"_missing").text),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

    stop_running_service();
    EXPECT_EQ(exit_code_after(reader, 20000), 1u);
    std::ifstream in(output.c_str(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    DeleteFileW(output.c_str());
    ASSERT_EQ(bytes.size(), 4u + 152u);
    const auto closing = DShowDeviceService::make_closing_event();
    EXPECT_EQ(std::memcmp(bytes.data() + 4, &closing, sizeof(closing)), 0);
}

TEST_F(service_end_to_end, proxy_started_by_hand_registers_and_ends_with_the_services_closing_message)
{
    start_running_service();
    const std::wstring mailslot = own_session_mailslot();
    ASSERT_FALSE(mailslot_exists(mailslot)) << "a session proxy is running already";
    const child_process proxy = test_support::start_program(windows_path(SESSION_PROXY_EXE), L"");
    ASSERT_TRUE(proxy);
    ASSERT_TRUE(wait_for_mailslot(mailslot));
    ASSERT_TRUE(wait_until_registered(mailslot));

    write_event(mailslot, 1, u"e2e-camera");
    write_event(mailslot, 2, u"e2e-camera");
    stop_running_service(); // the notifier's closing message reaches the proxy through its registration
    EXPECT_EQ(exit_code_after(proxy, 20000), 0u);
}

TEST_F(service_end_to_end, service_starts_the_proxy_in_a_session_whose_mailslot_is_missing)
{
    start_running_service();
    const std::wstring mailslot = own_session_mailslot();
    ASSERT_FALSE(mailslot_exists(mailslot));
    ASSERT_TRUE(service::start_session_proxy(service::own_session_id(), windows_path(SESSION_PROXY_EXE),
                                             service::system_session_launcher()));
    ASSERT_TRUE(wait_for_mailslot(mailslot));
    ASSERT_TRUE(wait_until_registered(mailslot));
    write_event(mailslot, 1, u"e2e-started");

    stop_running_service();
    // The proxy ended: its mailslot is gone.
    bool gone = false;
    for (int attempt = 0; attempt < 500 && !gone; ++attempt) {
        gone = !mailslot_exists(mailslot);
        Sleep(20);
    }
    EXPECT_TRUE(gone);
}

TEST_F(service_end_to_end, proxy_without_the_service_ends_with_minus_one)
{
    const child_process proxy = test_support::start_program(windows_path(SESSION_PROXY_EXE), L"");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(exit_code_after(proxy, 30000), 0xFFFFFFFFu);
    EXPECT_FALSE(mailslot_exists(own_session_mailslot()));
}

} // namespace
