#include "service/discover_service.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "fake_device_factory.h"
#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"
#include "service/session_mailslot.h"

namespace {

using DShowDeviceService::mailslot_event;
using fake_devices::fake_camera;
using fake_devices::fake_device_factory;
using service::discover_service;
namespace device_event = DShowDeviceService::device_event;

constexpr wchar_t instance_root[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";

GUID guid_of(const mailslot_event& message)
{
    GUID guid{message.device_guid.data1, message.device_guid.data2, message.device_guid.data3, {}};
    std::memcpy(guid.Data4, message.device_guid.data4, sizeof(guid.Data4));
    return guid;
}

std::wstring name_of(const mailslot_event& message)
{
    std::wstring name;
    for (const char16_t c : message.name) {
        if (c == 0) {
            break;
        }
        name.push_back(static_cast<wchar_t>(c));
    }
    return name;
}

bool instance_registered(const GUID& instance)
{
    HKEY raw = nullptr;
    const std::wstring path = instance_root + win32::guid_to_wstring(instance);
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(raw);
    return true;
}

struct discover_service_test : ::testing::Test {
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_device_factory> factory = fake_device_factory::make();
    std::shared_ptr<discover_service> service;

    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;
    std::vector<mailslot_event> messages;
    std::vector<DWORD> proxies_started;

    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override
    {
        service.reset();
        factory.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        CoUninitialize();
    }

    discover_service::options options()
    {
        discover_service::options o;
        o.devices_path = root + L"\\devices";
        o.factories = {factory};
        o.rescan_period = std::chrono::seconds(60);
        o.start_pause = std::chrono::milliseconds(0);
        o.sessions.enumerate = [] { return std::vector<service::session_state>{}; };
        o.sessions.active_console_session = [] { return service::no_session; };
        o.start_proxy = [this](DWORD id) {
            std::lock_guard lock(mutex);
            proxies_started.push_back(id);
        };
        o.on_refreshed = [this] {
            {
                std::lock_guard lock(mutex);
                ++refreshes;
            }
            changed.notify_all();
        };
        return o;
    }

    // Made and started, with a client that records every message; returns
    // once the first refresh is done.
    void start(discover_service::options o)
    {
        service = std::make_shared<discover_service>(std::move(o));
        listen();
        service->start();
        ASSERT_TRUE(wait_refreshes(1));
    }
    void start() { start(options()); }
    void listen()
    {
        service->notifier().add_client(L"recorder", [this](const mailslot_event& message) {
            std::lock_guard lock(mutex);
            messages.push_back(message);
        });
    }
    bool wait_refreshes(int count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return refreshes >= count; });
    }
    // One more refresh, triggered the way a factory does it. Only called while
    // the worker is idle, so that the refresh starts after the change.
    void rescan()
    {
        int before = 0;
        {
            std::lock_guard lock(mutex);
            before = refreshes;
        }
        factory->signal_change();
        ASSERT_TRUE(wait_refreshes(before + 1));
    }
    std::vector<mailslot_event> take_messages()
    {
        std::lock_guard lock(mutex);
        return std::exchange(messages, {});
    }
    // The list registers from its own thread: waits until it is a client.
    bool wait_for_client(const std::wstring& name) const
    {
        for (const ULONGLONG deadline = GetTickCount64() + 10000; GetTickCount64() < deadline; Sleep(5)) {
            const auto names = service->notifier().client_names();
            if (std::find(names.begin(), names.end(), name) != names.end()) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(discover_service_test, a_new_camera_is_announced_once_and_found_by_key_or_guid)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    auto sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::created);
    EXPECT_EQ(name_of(sent[0]), L"Camera 0");
    const GUID guid = guid_of(sent[0]);
    EXPECT_NE(guid, GUID{});
    EXPECT_TRUE(instance_registered(guid));

    const auto devices = service->get_device_list();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->device_guid(), guid);
    EXPECT_EQ(devices[0]->unique_key(), L"cam_0");
    EXPECT_NE(devices[0]->device_key(), nullptr);

    rescan();
    EXPECT_TRUE(take_messages().empty());

    EXPECT_EQ(service->find_device(L"cam_0", GUID{}), service->get_device_list()[0]);
    EXPECT_TRUE(service->find_device(L"unknown", guid));
    EXPECT_FALSE(service->find_device(L"unknown", GUID{1, 0, 0, {}}));
    EXPECT_FALSE(service->find_device(L"cam_", GUID{}));
}

TEST_F(discover_service_test, a_renamed_camera_is_announced_again_under_the_same_guid)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    const GUID guid = guid_of(take_messages().at(0));
    factory->set_cameras({{L"cam_0", L"Renamed camera"}});
    rescan();
    const auto sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::created);
    EXPECT_EQ(name_of(sent[0]), L"Renamed camera");
    EXPECT_EQ(guid_of(sent[0]), guid);
}

TEST_F(discover_service_test, an_unplugged_camera_is_announced_removed_and_keeps_its_guid_when_replugged)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}, {L"cam_1", L"Camera 1"}});
    start();
    const GUID guid = guid_of(take_messages().at(0));

    factory->set_cameras({{L"cam_1", L"Camera 1"}});
    rescan();
    auto sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::removed);
    EXPECT_EQ(guid_of(sent[0]), guid);
    EXPECT_EQ(name_of(sent[0]), L"Camera 0");
    EXPECT_FALSE(instance_registered(guid));
    EXPECT_EQ(service->get_device_list().size(), 1u);

    factory->set_cameras({{L"cam_0", L"Camera 0"}, {L"cam_1", L"Camera 1"}});
    rescan();
    sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::created);
    EXPECT_EQ(guid_of(sent[0]), guid);
    EXPECT_TRUE(instance_registered(guid));
}

// A factory that cannot end its change notification keeps stop from none of
// its other steps, and its error still comes out; the next start then keeps
// the clients that subscribed since.
TEST_F(discover_service_test, stop_announces_every_camera_removed_then_closes_and_drops_clients)
{
    for (const bool factory_stop_throws : {false, true}) {
        {
            std::lock_guard lock(mutex);
            refreshes = 0;
            messages.clear(); // what the last round's service said as it went
        }
        factory->set_cameras({{L"cam_0", L"Camera 0"}, {L"cam_1", L"Camera 1"}});
        start();
        const auto arrived = take_messages();
        ASSERT_EQ(arrived.size(), 2u);
        EXPECT_TRUE(factory->subscribed());

        if (factory_stop_throws) {
            factory->throw_at_next_stop();
            EXPECT_THROW(service->stop(), std::runtime_error);
        } else {
            service->stop();
            EXPECT_FALSE(factory->subscribed());
        }
        const auto sent = take_messages();
        ASSERT_EQ(sent.size(), 3u) << factory_stop_throws;
        EXPECT_EQ(sent[0].kind, device_event::removed);
        EXPECT_EQ(guid_of(sent[0]), guid_of(arrived[0]));
        EXPECT_EQ(sent[1].kind, device_event::removed);
        EXPECT_EQ(guid_of(sent[1]), guid_of(arrived[1]));
        EXPECT_EQ(sent[2].kind, device_event::closing);
        EXPECT_TRUE(service->notifier().client_names().empty());
        EXPECT_TRUE(service->get_device_list().empty());
        EXPECT_FALSE(instance_registered(guid_of(arrived[0])));

        service->stop(); // not running: nothing
        EXPECT_TRUE(take_messages().empty());

        // Started again, the cameras come back as created with their GUIDs.
        listen();
        service->start();
        ASSERT_TRUE(wait_refreshes(2));
        const auto again = take_messages();
        ASSERT_EQ(again.size(), 2u) << factory_stop_throws;
        EXPECT_EQ(guid_of(again[0]), guid_of(arrived[0]));
        service.reset();
        EXPECT_EQ(factory->stats()->records_alive, 0);
    }
}

TEST_F(discover_service_test, a_failing_factory_counts_as_one_without_cameras)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    take_messages();
    factory->set_failure(E_FAIL);
    rescan();
    auto sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::removed);
    EXPECT_TRUE(service->get_device_list().empty());

    factory->set_failure(S_OK);
    rescan();
    sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, device_event::created);
}

TEST_F(discover_service_test, more_cameras_than_the_array_holds_are_taken_up_to_256_and_the_rest_released)
{
    factory->set_cameras(fake_devices::numbered_cameras(260));
    start();
    // The first answer was "more data" with nothing stored; the second call
    // handed out all 260 records.
    EXPECT_EQ(factory->enumerate_calls(), 2);
    const auto devices = service->get_device_list();
    ASSERT_EQ(devices.size(), 256u);
    EXPECT_EQ(devices[255]->unique_key(), L"cam_255");
    EXPECT_EQ(factory->stats()->records_alive, 256);
    EXPECT_EQ(take_messages().size(), 256u);
}

TEST_F(discover_service_test, a_camera_without_a_unique_key_is_ignored)
{
    factory->set_cameras({{L"", L"No key"}, {L"cam_1", L"Camera 1"}});
    start();
    const auto devices = service->get_device_list();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->unique_key(), L"cam_1");
}

TEST_F(discover_service_test, a_refresh_that_fails_keeps_the_previous_list_and_the_worker)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    const auto before = service->get_device_list();
    take_messages();

    // Without its devices key no entry can be made for a new camera.
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str()), ERROR_SUCCESS);
    factory->set_cameras({{L"cam_0", L"Camera 0"}, {L"cam_new", L"New camera"}});
    rescan();
    EXPECT_EQ(service->get_device_list(), before);
    rescan(); // still refreshing
    EXPECT_EQ(service->get_device_list(), before);
}

TEST_F(discover_service_test, the_periodic_rescan_finds_cameras_without_a_change_signal)
{
    auto o = options();
    o.rescan_period = std::chrono::milliseconds(20);
    start(std::move(o));
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return !messages.empty(); }));
}

TEST_F(discover_service_test, start_reaches_active_sessions_other_than_its_own)
{
    auto o = options();
    const DWORD own = service::own_session_id();
    o.sessions.enumerate = [own] {
        return std::vector<service::session_state>{{own, true}, {own + 5, false}, {own + 7, true}};
    };
    start(std::move(o));
    // No proxy runs in session own+7, so its mailslot cannot be opened.
    std::lock_guard lock(mutex);
    EXPECT_EQ(proxies_started, std::vector<DWORD>{own + 7});
}

TEST_F(discover_service_test, a_long_friendly_name_arrives_cut_to_63_characters)
{
    const std::wstring name(70, L'n');
    factory->set_cameras({{L"cam_0", name}});
    start();
    const auto sent = take_messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(name_of(sent[0]), name.substr(0, 63));
}

TEST_F(discover_service_test, the_active_device_list_hears_of_a_removed_camera)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    cam_service::active_device_list::options list_options;
    list_options.change_source = [s = service] { return s; };
    auto list = cam_service::active_device_list::create(list_options);
    const auto device = service->get_device_list().at(0);
    auto handle = list->open_device(device->device_guid(), device);
    ASSERT_TRUE(handle);
    EXPECT_TRUE(factory->stats()->devices_alive() == 1);

    ASSERT_TRUE(wait_for_client(L"device_list"));
    factory->set_cameras({});
    rescan();
    EXPECT_EQ(WaitForSingleObject(handle->event(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(handle->device());
    EXPECT_EQ(factory->stats()->devices_alive(), 0);
    list.reset();
}

// What RemoveEventMailslot(0, "device_list") reaches: no client's call
// removes the list's own callback, so an unplugged camera still sets the lost
// event of its clients at the next rescan, and mailslots of that name stay
// the client's to remove.
TEST_F(discover_service_test, a_client_removing_device_list_leaves_the_list_hearing_of_removals)
{
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start();
    cam_service::active_device_list::options list_options;
    list_options.change_source = [s = service] { return s; };
    auto list = cam_service::active_device_list::create(list_options);
    const auto device = service->get_device_list().at(0);
    auto handle = list->open_device(device->device_guid(), device);
    ASSERT_TRUE(handle);
    ASSERT_TRUE(wait_for_client(L"device_list"));

    EXPECT_FALSE(service->remove_client(L"device_list"));
    EXPECT_FALSE(service->remove_client(L"device_list"));
    factory->set_cameras({});
    rescan();
    EXPECT_EQ(WaitForSingleObject(handle->event(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(handle->device());
    EXPECT_EQ(list->active_count(), 0u);
    EXPECT_EQ(factory->stats()->devices_alive(), 0);
    list.reset();
}

// Whatever is thrown on the worker outside a refresh (logging and containers
// can throw bad_alloc) is logged at the thread's boundary; the worker keeps
// rescanning and the cameras stay served.
TEST_F(discover_service_test, a_throw_on_the_worker_is_logged_and_the_worker_keeps_serving)
{
    std::mutex lines_lock;
    std::vector<std::string> lines;
    set_log_sink(1, [&](std::uint32_t, const char* text) {
        std::lock_guard lock(lines_lock);
        lines.emplace_back(text);
    });
    service_log_level = 1;
    auto o = options();
    auto count_refresh = std::move(o.on_refreshed);
    std::atomic<int> throws{2};
    o.on_refreshed = [count_refresh = std::move(count_refresh), &throws] {
        count_refresh();
        if (throws.fetch_sub(1) > 0) {
            throw std::bad_alloc();
        }
    };
    factory->set_cameras({{L"cam_0", L"Camera 0"}});
    start(std::move(o));
    ASSERT_EQ(take_messages().size(), 1u);

    factory->set_cameras({});
    rescan();
    factory->set_cameras({{L"cam_1", L"Camera 1"}});
    rescan();
    const auto sent = take_messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].kind, device_event::removed);
    EXPECT_EQ(name_of(sent[1]), L"Camera 1");
    EXPECT_EQ(service->get_device_list().size(), 1u);
    service->stop();
    set_log_sink(1, nullptr);
    service_log_level = 0;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("[CamTovra] service::discover_service::run, the refresh callback failed"),
              std::string::npos)
        << lines[0];
}

} // namespace
