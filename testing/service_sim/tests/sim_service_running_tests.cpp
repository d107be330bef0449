// The demonstration service as clients meet it under the service control
// manager: it lists its simulated camera with a device key and a video-input
// filter instance, tells a registered mailslot of an unplug and a replug, sets
// an open camera's device-lost event, and says goodbye when it stops.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>
#include <string>

#include "camtovra_service.h"
#include "com_transport.h"
#include "service/session_mailslot.h"
#include "service_test_support.h"
#include "sim_plug_events.h"

namespace {

template <class T>
struct com_ref {
    T* pointer = nullptr;
    ~com_ref() { reset(); }
    void reset()
    {
        if (pointer != nullptr) {
            pointer->Release();
            pointer = nullptr;
        }
    }
    T* operator->() const { return pointer; }
};

struct owned_handle {
    HANDLE handle = nullptr;
    ~owned_handle()
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

// The next message of the mailslot (its read time-out is set at creation).
std::optional<DShowDeviceService::received_event> next_message(HANDLE slot)
{
    unsigned char buffer[512];
    DWORD read = 0;
    if (!ReadFile(slot, buffer, sizeof(buffer), &read, nullptr)) {
        return std::nullopt;
    }
    return DShowDeviceService::parse_mailslot_event(buffer, read);
}

std::vector<std::string> listed_keys(ICamTovraDiscoverService* service)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    std::vector<std::string> keys;
    if (SUCCEEDED(service->GetDiscoveredDeviceList(ids, 4, &count))) {
        for (ULONG i = 0; i < count && i < 4; ++i) {
            keys.emplace_back(ids[i].UniqueKey, strnlen(ids[i].UniqueKey, sizeof(ids[i].UniqueKey)));
        }
    }
    return keys;
}

// Asks until the service lists `count` cameras; false after ten seconds.
bool wait_for_listed(ICamTovraDiscoverService* service, std::size_t count)
{
    for (const ULONGLONG deadline = GetTickCount64() + 10000; GetTickCount64() < deadline; Sleep(100)) {
        if (listed_keys(service).size() == count) {
            return true;
        }
    }
    return false;
}

void set_named_event(const wchar_t* name)
{
    owned_handle event{OpenEventW(EVENT_MODIFY_STATE, FALSE, name)};
    ASSERT_NE(event.handle, nullptr) << "the service's plug event is missing";
    SetEvent(event.handle);
}

// A hold of the service (sim_plug_events.h) and the event it sets on reaching
// it. The hold is let go at the latest when this ends, so a failed check
// leaves no service waiting.
struct service_hold {
    owned_handle hold;
    owned_handle held;
    explicit service_hold(const wchar_t* name)
        : hold{CreateEventW(nullptr, TRUE, FALSE, name)},
          held{CreateEventW(nullptr, FALSE, FALSE, service_sim::held_event_name)}
    {
    }
    ~service_hold() { release(); }
    bool made() const { return hold.handle != nullptr && held.handle != nullptr; }
    bool reached() const { return WaitForSingleObject(held.handle, 30000) == WAIT_OBJECT_0; }
    void release() const
    {
        if (hold.handle != nullptr) {
            SetEvent(hold.handle);
        }
    }
};

// The first answer of the discover service's listing (a transport failure of
// the first call is tried again); with `wait_for_camera`, S_OK only once the
// camera is listed.
HRESULT first_listing_answer(bool wait_for_camera = false)
{
    com_ref<ICamTovraDiscoverService> service;
    HRESULT hr = test_support::retry_transport(
        "CoCreateInstance(CamTovraDiscoverService)", test_support::transport_step::activation,
        &IID_ICamTovraDiscoverService, [&] {
            return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service.pointer));
        });
    if (FAILED(hr)) {
        return hr;
    }
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    hr = test_support::retry_transport("GetDiscoveredDeviceList", test_support::transport_step::first_call,
                                       &IID_ICamTovraDiscoverService,
                                       [&] { return service->GetDiscoveredDeviceList(ids, 4, &count); });
    if (SUCCEEDED(hr) && wait_for_camera && !wait_for_listed(service.pointer, 1)) {
        return S_FALSE;
    }
    return hr;
}

class sim_service_running : public ::testing::Test {
protected:
    void SetUp() override
    {
        service_test::stop_service();
        service_test::remove_all_registration();
        ASSERT_EQ(service_test::run_service_exe(L"-Service"), 0u);
        ASSERT_EQ(service_test::register_proxy_stub(), 0u);
        ASSERT_EQ(service_test::start_service(), 0u);
        ASSERT_TRUE(service_test::wait_for_state(SERVICE_RUNNING));
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override
    {
        service_test::stop_service();
        service_test::remove_all_registration();
        CoUninitialize();
    }
};

TEST_F(sim_service_running, lists_its_camera_follows_unplug_and_replug_and_says_goodbye_on_stop)
{
    com_ref<ICamTovraDiscoverService> service;
    ASSERT_TRUE(SUCCEEDED(test_support::retry_transport(
        "CoCreateInstance(CamTovraDiscoverService)", test_support::transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
            return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service.pointer));
        })));
    DShowDeviceServer_DeviceId first{};
    ULONG count = 0;
    const auto first_call = [&] { return service->GetDiscoveredDeviceList(&first, 1, &count); };
    ASSERT_TRUE(SUCCEEDED(test_support::retry_transport("GetDiscoveredDeviceList",
                                                        test_support::transport_step::first_call, &IID_ICamTovraDiscoverService, first_call)));
    ASSERT_TRUE(wait_for_listed(service.pointer, 1));
    ASSERT_EQ(listed_keys(service.pointer), std::vector<std::string>{"SIM00001"});

    // Its device key, and a filter instance in the video-input category under
    // the camera's name.
    const std::wstring device_key = L"Software\\Corvane\\CamTovraService\\devices\\SIM00001";
    ASSERT_TRUE(service_test::key_exists(HKEY_LOCAL_MACHINE, device_key));
    const std::wstring instance =
        service_test::read_string(HKEY_LOCAL_MACHINE, device_key, L"DevicePropertyInstanceCLSID");
    // The service lists the camera and writes its filter instance on its own
    // thread: the name may follow the listing by a moment.
    const std::wstring instance_key = L"CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\" + instance;
    std::wstring friendly = service_test::read_string(HKEY_CLASSES_ROOT, instance_key, L"FriendlyName");
    for (const ULONGLONG deadline = GetTickCount64() + 10000;
         friendly == L"<missing>" && GetTickCount64() < deadline; Sleep(50)) {
        friendly = service_test::read_string(HKEY_CLASSES_ROOT, instance_key, L"FriendlyName");
    }
    EXPECT_EQ(friendly, L"CamTovra Sim");

    const std::wstring slot_name = L"\\\\.\\mailslot\\camtovra_sim_test_" + std::to_wstring(GetCurrentProcessId());
    owned_handle slot{CreateMailslotW(slot_name.c_str(), 0, 15000, nullptr)};
    ASSERT_NE(slot.handle, INVALID_HANDLE_VALUE);
    BSTR name = SysAllocString(slot_name.c_str());
    ASSERT_EQ(service->RegisterEventMailslot(GetCurrentProcessId(), name), S_OK);
    SysFreeString(name);

    // An open camera, and its device-lost event.
    com_ref<IUnknown> unknown;
    DShowDeviceServer_DeviceId id{};
    std::strcpy(id.UniqueKey, "SIM00001");
    ASSERT_EQ(service->CreateDevice(GetCurrentProcessId(), &id, &unknown.pointer), S_OK);
    com_ref<ICamTovraDevice> device;
    ASSERT_TRUE(SUCCEEDED(test_support::retry_transport(
        "QueryInterface(ICamTovraDevice)", test_support::transport_step::first_call, &IID_ICamTovraDevice, [&] {
            return unknown->QueryInterface(IID_ICamTovraDevice, reinterpret_cast<void**>(&device.pointer));
        })));
    BSTR lost_name = nullptr;
    ASSERT_EQ(device->GetDeviceLostEventName(&lost_name), S_OK);
    owned_handle lost{OpenEventW(SYNCHRONIZE, FALSE, lost_name)};
    SysFreeString(lost_name);
    ASSERT_NE(lost.handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(lost.handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    set_named_event(service_sim::unplug_event_name);
    auto removed = next_message(slot.handle);
    ASSERT_TRUE(removed.has_value()) << "no message after the unplug";
    EXPECT_EQ(removed->kind, 2u);
    EXPECT_EQ(removed->name, u"CamTovra Sim");
    EXPECT_EQ(WaitForSingleObject(lost.handle, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(listed_keys(service.pointer).empty());

    // The camera comes back once nothing holds the one that left. Messages
    // carry the camera's display name.
    device.reset();
    unknown.reset();
    set_named_event(service_sim::replug_event_name);
    auto arrived = next_message(slot.handle);
    ASSERT_TRUE(arrived.has_value()) << "no message after the replug";
    EXPECT_EQ(arrived->kind, 1u);
    EXPECT_EQ(arrived->name, u"CamTovra Sim");
    EXPECT_TRUE(wait_for_listed(service.pointer, 1));

    service.reset();
    ASSERT_EQ(service_test::send_control(SERVICE_CONTROL_STOP), 0u);
    auto gone = next_message(slot.handle);
    ASSERT_TRUE(gone.has_value()) << "no message on stop";
    EXPECT_EQ(gone->kind, 2u);
    auto closing = next_message(slot.handle);
    ASSERT_TRUE(closing.has_value()) << "no closing message";
    EXPECT_EQ(closing->kind, 0x100u);
    EXPECT_TRUE(service_test::wait_for_state(SERVICE_STOPPED));
}

// The manager waits for a control's handler and gives up on a slow one
// (Wine's after ten seconds): a stop whose work takes longer is still taken at
// once, reported pending while its work runs, and ends stopped.
TEST_F(sim_service_running, a_stop_whose_work_takes_long_is_taken_at_once_and_reported_pending)
{
    // The components exist and have listed the camera: their stop is all
    // the stop's work.
    ASSERT_EQ(first_listing_answer(true), S_OK);
    const service_hold stop_hold(service_sim::stop_hold_event_name);
    ASSERT_TRUE(stop_hold.made());
    ASSERT_EQ(service_test::send_control(SERVICE_CONTROL_STOP), 0u) << "the stop was refused or timed out";
    ASSERT_TRUE(stop_hold.reached()) << "the stop never reached the components";
    EXPECT_EQ(service_test::service_state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    stop_hold.release();
    EXPECT_TRUE(service_test::wait_for_state(SERVICE_STOPPED));
}

// Running is reported once the service's objects exist: a client that sees it
// gets its answer, not E_FAIL of an empty holder. A stop that comes while the
// start-up is under way is taken, and the start-up ends cleanly in a stop.
TEST_F(sim_service_running, reports_running_only_once_its_objects_exist_and_a_stop_during_start_up_ends_it)
{
    ASSERT_TRUE(service_test::stop_service());
    {
        const service_hold start_hold(service_sim::start_up_hold_event_name);
        ASSERT_TRUE(start_hold.made());
        ASSERT_EQ(service_test::start_service(), 0u);
        ASSERT_TRUE(start_hold.reached()) << "the start-up never reached its components";
        EXPECT_EQ(service_test::service_state(), static_cast<DWORD>(SERVICE_START_PENDING))
            << "reported running before its objects were made";
        start_hold.release();
        ASSERT_TRUE(service_test::wait_for_state(SERVICE_RUNNING));
        EXPECT_EQ(first_listing_answer(), S_OK) << "a client that saw the service running got no listing";
        ASSERT_TRUE(service_test::stop_service());
    }

    const service_hold start_hold(service_sim::start_up_hold_event_name);
    ASSERT_TRUE(start_hold.made());
    ASSERT_EQ(service_test::start_service(), 0u);
    ASSERT_TRUE(start_hold.reached()) << "the start-up never reached its components";
    EXPECT_EQ(service_test::send_control(SERVICE_CONTROL_STOP), 0u) << "a stop during start-up was refused";
    EXPECT_EQ(service_test::service_state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    start_hold.release();
    EXPECT_TRUE(service_test::wait_for_state(SERVICE_STOPPED));
    // The stopped process lets go of everything: the service starts again.
    ASSERT_TRUE(service_test::stop_service());
    ASSERT_EQ(service_test::start_service(), 0u);
    ASSERT_TRUE(service_test::wait_for_state(SERVICE_RUNNING));
    EXPECT_EQ(first_listing_answer(), S_OK);
}

} // namespace
