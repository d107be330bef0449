// A client process takes frames of a camera whose stream comes from the
// simulated camera through the endpoint pipe, the frame path and the
// shared-memory channel, reaching the service's objects through the
// proxy/stub library.
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "gen_utils/win32_utils.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"
#include "streaming_device_factory.h"
#include "child_process.h"
#include "marshalled_interface.h"
#include "proxy_stub_registration.h"

namespace {

using atl::com_ptr;

class frame_channel_client : public ::testing::Test {
protected:
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_devices::streaming_device_factory> factory;
    com_ptr<ICamTovraDiscoverService> discover;
    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        fake_devices::streaming_options options;
        options.camera.width = 320;
        options.camera.height = 120;
        options.camera.transfer_size = 4096;
        options.camera.frames_per_second = 200;
        factory = fake_devices::streaming_device_factory::make(options);

        service::discover_service::options service_options;
        service_options.devices_path = root + L"\\devices";
        service_options.factories = {factory};
        service_options.rescan_period = std::chrono::seconds(60);
        service_options.start_pause = std::chrono::milliseconds(0);
        service_options.sessions.enumerate = [] { return std::vector<service::session_state>{}; };
        service_options.sessions.active_console_session = [] { return service::no_session; };
        service_options.on_refreshed = [this] {
            {
                std::lock_guard lock(mutex);
                ++refreshes;
            }
            changed.notify_all();
        };
        auto service = std::make_shared<service::discover_service>(std::move(service_options));
        service::discover_service_instance().store(service);
        service->start();
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return refreshes >= 1; }));
        }
        cam_service::active_device_list::options list_options;
        list_options.settings_root = HKEY_CURRENT_USER;
        list_options.settings_path = root;
        list_options.change_source = [] { return service::discover_service_instance().load(); };
        cam_service::active_device_list_instance().store(cam_service::active_device_list::create(list_options));

        com_ptr<IClassFactory> class_object;
        ASSERT_EQ(atl::singleton_class_factory<CDShowDeviceDiscoverService>::create(class_object.put()), S_OK);
        ASSERT_EQ(class_object->CreateInstance(nullptr, IID_ICamTovraDiscoverService, discover.put_void()), S_OK);

        ASSERT_EQ(test_support::register_proxy_stub(PROXY_STUB_DLL), "");
    }
    void TearDown() override
    {
        discover.reset();
        if (auto service = service::discover_service_instance().exchange(nullptr)) {
            service->stop();
        }
        cam_service::active_device_list_instance().store(nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
        CoUninitialize();
    }

    // Starts the client with fresh marshalling data. Only a client whose
    // first cross-process step failed in COM's transport (unmarshalling the
    // service, or the first query on its device object: Wine's resolver still
    // starting or slow under load) is started again, at most five times,
    // after a growing pause; it reports that step with its own exit code.
    test_support::child_process start_client(const std::wstring& mode, HANDLE ready = nullptr)
    {
        constexpr DWORD unmarshal_failed = 12;
        constexpr DWORD first_query_failed = 4;
        for (int attempt = 0;; ++attempt) {
            const std::wstring marshalled = test_support::marshal_to_hex(discover.get(), IID_ICamTovraDiscoverService);
            auto client = test_support::start_helper(FRAME_CLIENT_EXE, marshalled + L" " + mode);
            if (!client.process) {
                return client;
            }
            const HANDLE waits[2] = {client.process.get(), ready};
            const DWORD woken = WaitForMultipleObjects(ready != nullptr ? 2 : 1, waits, FALSE, 60000);
            const DWORD exit_code = woken == WAIT_OBJECT_0 ? client.wait(0) : 0;
            if (attempt == 4 || (exit_code != unmarshal_failed && exit_code != first_query_failed)) {
                return client;
            }
            std::fprintf(stderr, "client start %d failed in the COM transport (exit %lu); starting it again\n",
                         attempt, exit_code);
            EXPECT_EQ(test_support::restore_proxy_stub(PROXY_STUB_DLL), "");
            Sleep(200 * (attempt + 1));
        }
    }

    std::wstring mapping_name(int index)
    {
        const GUID id = service::discover_service_instance().load()->find_device(L"sim_0", GUID{})->device_guid();
        return L"Global\\" + win32::guid_to_wstring(id) + L"_shared_mem_" + std::to_wstring(index);
    }
    bool wait_closed(int count)
    {
        for (int i = 0; i < 4000 && factory->stats()->close_stream_calls < count; ++i) {
            Sleep(5);
        }
        return factory->stats()->close_stream_calls == count;
    }
};

TEST_F(frame_channel_client, a_client_process_takes_checks_and_gives_back_frames)
{
    auto client = start_client(L"take 40");
    ASSERT_TRUE(client.process);
    EXPECT_EQ(client.wait(60000), 0u);
    EXPECT_TRUE(wait_closed(1));
}

TEST_F(frame_channel_client, a_client_that_stops_taking_causes_counted_drops_and_no_stall)
{
    auto client = start_client(L"stall 10");
    ASSERT_TRUE(client.process);
    EXPECT_EQ(client.wait(60000), 0u);
    EXPECT_TRUE(wait_closed(1));
}

TEST_F(frame_channel_client, a_client_killed_while_holding_frames_leaves_a_channel_the_tracker_closes)
{
    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_frame_client_ready_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    auto client = start_client(L"hold " + ready_name, ready.get());
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "client exit " << client.wait(0);
    EXPECT_EQ(factory->stats()->close_stream_calls, 0);
    win32::unique_handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, mapping_name(0).c_str()));
    EXPECT_TRUE(mapping); // the channel is open while the client lives

    TerminateProcess(client.process.get(), 9);
    client.wait();
    EXPECT_TRUE(wait_closed(1));
    mapping.reset();
    {
        auto info = service::discover_service_instance().load()->find_device(L"sim_0", GUID{});
        auto handle = cam_service::active_device_list_instance().load()->open_device(info->device_guid(), info);
        auto* camera = static_cast<fake_devices::streaming_active_device*>(handle->device().get());
        EXPECT_EQ(camera->channel_buffers(), 0u);
    }
    for (int i = 0; i < 4; ++i) {
        win32::unique_handle gone(OpenFileMappingW(FILE_MAP_READ, FALSE, mapping_name(i).c_str()));
        EXPECT_FALSE(gone) << i; // neither the service nor the dead client holds it
    }
}

} // namespace
