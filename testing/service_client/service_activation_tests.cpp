// Out-of-process COM activation of the discover service, as a local server
// and as the service that the service control manager starts, marshalled
// through the proxy/stub library; and the service's controls.

#include <gtest/gtest.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <cstdint>
#include <vector>

#include "camtovra_service.h"
#include "com_transport.h"
#include "service_test_support.h"

namespace {

using namespace service_test;

struct com_scope {
    com_scope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~com_scope() { CoUninitialize(); }
};

using test_support::retry_transport;
using test_support::transport_step;

// The discover service activated out of process, and its process id asked
// as the first call: the two steps that Wine's transport fails now and then
// right after the server was registered or started.
struct discover_service_client {
    ICamTovraDiscoverService* service = nullptr;
    // S_OK once both the activation and the first call succeeded.
    HRESULT created = E_FAIL;
    DWORD server_process = 0;

    discover_service_client()
    {
        created = retry_transport("CoCreateInstance(CamTovraDiscoverService)", transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
            return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service));
        });
        if (FAILED(created)) {
            return;
        }
        std::uint64_t process_id = 0;
        created = retry_transport("GetServiceProperty(process id)", transport_step::first_call, &IID_ICamTovraDiscoverService, [&] {
            ULONG size = 0;
            return service->GetServiceProperty(26, reinterpret_cast<unsigned char*>(&process_id), 8, &size);
        });
        server_process = static_cast<DWORD>(process_id);
    }
    ~discover_service_client()
    {
        if (service != nullptr) {
            service->Release();
        }
    }

    std::uint64_t read64(ULONG id, HRESULT* hr = nullptr) const
    {
        std::uint64_t value = 0;
        ULONG size = 0;
        const HRESULT result = service->GetServiceProperty(id, reinterpret_cast<unsigned char*>(&value), 8, &size);
        if (hr != nullptr) {
            *hr = result;
        }
        return value;
    }
    std::uint32_t read32(ULONG id) const
    {
        std::uint32_t value = 0xFFFFFFFF;
        ULONG size = 0;
        service->GetServiceProperty(id, reinterpret_cast<unsigned char*>(&value), 4, &size);
        return value;
    }
};

std::uint64_t file_version_of(const std::wstring& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length)) {
        return 0;
    }
    return std::uint64_t{info->dwFileVersionMS} << 32 | info->dwFileVersionLS;
}

// The properties that every activation mode must answer across processes.
void expect_service_properties_across_processes(const discover_service_client& client)
{
    HRESULT hr = E_FAIL;
    const std::uint64_t process_id = client.read64(26, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_NE(process_id, 0u);
    EXPECT_NE(process_id, GetCurrentProcessId());

    const std::uint64_t version = client.read64(5, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(version, file_version_of(service_exe()));
    EXPECT_NE(version, 0u);

    unsigned char five[4] = {5, 0, 0, 0};
    EXPECT_EQ(client.service->SetServiceProperty(25, five, 4), S_OK);
    EXPECT_EQ(client.read32(25), 5u);
    unsigned char zero[4] = {};
    EXPECT_EQ(client.service->SetServiceProperty(25, zero, 4), S_OK);
    EXPECT_EQ(client.read32(25), 0u);
    EXPECT_EQ(client.service->SetServiceProperty(25, five, 2), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));

    unsigned char small[4] = {};
    ULONG size = 0;
    EXPECT_EQ(client.service->GetServiceProperty(26, small, 4, &size), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 8u);
    size = 0;
    EXPECT_EQ(client.service->GetServiceProperty(5, nullptr, 0, &size), S_FALSE);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(client.service->GetServiceProperty(77, small, 4, &size), E_NOTIMPL);
    EXPECT_EQ(client.service->SetServiceProperty(26, small, 4), E_NOTIMPL);
    // Nothing stored under id 24 in the service-defaults store.
    EXPECT_EQ(client.service->GetServiceProperty(24, small, 4, &size), E_FAIL);
    // The discover service is in its holder: the list answers, empty until
    // the service has a camera layer.
    DShowDeviceServer_DeviceId ids[1] = {};
    ULONG count = 7;
    EXPECT_EQ(client.service->GetDiscoveredDeviceList(ids, 1, &count), S_OK);
    EXPECT_EQ(count, 0u);

    // Array sizes that a client gives are bounded by the interface, so that
    // no caller makes the service allocate what it asks for: one past the
    // bound is refused by the marshalling, the bound itself is served.
    const HRESULT out_of_bounds = HRESULT_FROM_WIN32(RPC_X_INVALID_BOUND);
    std::vector<DShowDeviceServer_DeviceId> many(1025);
    EXPECT_EQ(client.service->GetDiscoveredDeviceList(many.data(), 1025, &count), out_of_bounds);
    EXPECT_EQ(client.service->GetDiscoveredDeviceList(many.data(), 1024, &count), S_OK);
    std::vector<unsigned char> bytes(4097);
    EXPECT_EQ(client.service->GetServiceProperty(26, bytes.data(), 4097, &size), out_of_bounds);
    EXPECT_EQ(client.service->SetServiceProperty(25, bytes.data(), 4097), out_of_bounds);
    EXPECT_EQ(client.service->GetServiceProperty(26, bytes.data(), 4096, &size), S_OK);
    EXPECT_EQ(client.read64(26, &hr), process_id) << "the service still serves";
}

// Threads of a process, 0 when they cannot be counted.
int thread_count(DWORD process_id)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == process_id ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// GetDiscoveredDeviceList of a fresh client: S_OK while the service holds its
// discover service.
HRESULT list_devices()
{
    com_scope com;
    const discover_service_client client;
    if (FAILED(client.created)) {
        return client.created;
    }
    DShowDeviceServer_DeviceId ids[1] = {};
    ULONG count = 0;
    return client.service->GetDiscoveredDeviceList(ids, 1, &count);
}

class service_activation : public ::testing::Test {
protected:
    void SetUp() override
    {
        remove_all_registration();
        remove_log_level();
    }
    void TearDown() override
    {
        remove_all_registration();
        remove_log_level();
    }
};

TEST_F(service_activation, local_server_answers_from_its_own_process_through_the_proxy_stub)
{
    ASSERT_EQ(run_service_exe(L"-RegServer"), 0u);
    ASSERT_EQ(register_proxy_stub(), 0u);
    DWORD server = 0;
    {
        com_scope com;
        const discover_service_client client;
        ASSERT_EQ(client.created, S_OK);
        expect_service_properties_across_processes(client);
        server = client.server_process;
        EXPECT_EQ(service_state(), 0u) << "no service runs in local-server mode";
    }
    EXPECT_TRUE(quit_local_server(server));
}

TEST_F(service_activation, activation_starts_the_service_which_follows_pause_continue_and_stop)
{
    set_log_level_dword(0x105);
    ASSERT_EQ(run_service_exe(L"-Service"), 0u);
    ASSERT_EQ(register_proxy_stub(), 0u);
    {
        com_scope com;
        const discover_service_client client;
        ASSERT_EQ(client.created, S_OK);
        EXPECT_EQ(service_state(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(client.server_process, service_process_id());
        EXPECT_EQ(client.read32(25), 5u) << "service_log_level 0x105 gives level 5";
        expect_service_properties_across_processes(client);
    }

    EXPECT_EQ(send_control(SERVICE_CONTROL_PAUSE), 0u);
    EXPECT_TRUE(wait_for_state(SERVICE_PAUSED));
    EXPECT_EQ(list_devices(), S_OK) << "a pause keeps the discover service in its holder";
    EXPECT_EQ(send_control(SERVICE_CONTROL_CONTINUE), 0u);
    EXPECT_TRUE(wait_for_state(SERVICE_RUNNING));
    EXPECT_EQ(list_devices(), S_OK);
    // Each pause ends the discover service's thread, each continue starts it
    // again: no thread is left behind.
    const int threads = thread_count(service_process_id());
    EXPECT_GT(threads, 0);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(send_control(SERVICE_CONTROL_PAUSE), 0u);
        EXPECT_TRUE(wait_for_state(SERVICE_PAUSED));
        EXPECT_EQ(send_control(SERVICE_CONTROL_CONTINUE), 0u);
        EXPECT_TRUE(wait_for_state(SERVICE_RUNNING));
    }
    EXPECT_LE(thread_count(service_process_id()), threads);
    send_control(200); // a control the service does not know
    // Controls reach the handler one after the other and ControlService
    // returns once the handler has answered: this one follows the unknown one.
    EXPECT_EQ(send_control(SERVICE_CONTROL_INTERROGATE), 0u);
    EXPECT_EQ(service_state(), static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(send_control(SERVICE_CONTROL_STOP), 0u);
    EXPECT_TRUE(wait_for_state(SERVICE_STOPPED));
}

TEST_F(service_activation, log_level_stored_as_text_leaves_level_zero)
{
    set_log_level_text(L"5");
    ASSERT_EQ(run_service_exe(L"-Service"), 0u);
    ASSERT_EQ(register_proxy_stub(), 0u);
    ASSERT_EQ(start_service(), 0u);
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
    {
        com_scope com;
        const discover_service_client client;
        ASSERT_EQ(client.created, S_OK);
        EXPECT_EQ(client.read32(25), 0u);
    }
    stop_service();
    EXPECT_EQ(service_state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(service_activation, stop_right_after_start_ends_stopped_and_the_service_starts_again)
{
    ASSERT_EQ(run_service_exe(L"-Service"), 0u);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(start_service(), 0u);
        // The first STOP the manager lets through must end the service.
        DWORD sent = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        for (int i = 0; i < 200 && sent != ERROR_SUCCESS; ++i) {
            sent = send_control(SERVICE_CONTROL_STOP);
            if (sent != ERROR_SUCCESS) {
                Sleep(5);
            }
        }
        EXPECT_EQ(sent, 0u);
        EXPECT_TRUE(wait_for_state(SERVICE_STOPPED)) << "round " << round;
    }
}

} // namespace
