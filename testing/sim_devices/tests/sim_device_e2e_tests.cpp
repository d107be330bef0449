// Client processes stream from the real active camera device over the
// simulated camera: the service's discover service and active-device list run
// in this process with a factory whose record opens the device, and the
// client reaches them through the proxy/stub library.
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "child_process.h"
#include "marshalled_interface.h"
#include "device_impl/camtovra/device.h"
#include "gen_utils/win32_utils.h"
#include "proxy_stub_registration.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"
#include "sim_device_factory.h"

namespace {

using atl::com_ptr;

struct e2e_case {
    bool full_frame;
    bool acquisition_stop; // the camera's description has AcquisitionStop
};

class sim_device_e2e : public ::testing::TestWithParam<e2e_case> {
protected:
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<sim_devices::sim_device_factory> factory;
    com_ptr<ICamTovraDiscoverService> discover;
    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        sim_devices::sim_camera_options options;
        options.full_frame = GetParam().full_frame;
        options.description.acquisition_stop = GetParam().acquisition_stop;
        options.frames_per_second = 30; // the client keeps up: nothing may be dropped
        factory = sim_devices::sim_device_factory::make(options);

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
        ASSERT_TRUE(wait_listed(factory->serial_number()));
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
        EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
        CoUninitialize();
    }

    // Waits for a refresh of the device list after which the camera with
    // `serial` is listed (or, with `listed` false, no longer listed).
    bool wait_listed(const std::wstring& serial, bool listed = true)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] {
            const auto service = service::discover_service_instance().load();
            return service && (service->find_device(serial, GUID{}) != nullptr) == listed;
        });
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
            auto client = test_support::start_helper(CAMTOVRA_CLIENT_EXE, marshalled + L" " + mode);
            if (!client.process) {
                return client;
            }
            const HANDLE waits[2] = {client.process.get(), ready};
            const DWORD woken = WaitForMultipleObjects(ready != nullptr ? 2 : 1, waits, FALSE, 120000);
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

    // A handle of the streaming camera's pipe thread, to see it end.
    win32::unique_handle pipe_thread()
    {
        const auto info = service::discover_service_instance().load()->find_device(factory->serial_number(), GUID{});
        if (!info) {
            return nullptr;
        }
        const auto handle = cam_service::active_device_list_instance().load()->open_device(info->device_guid(), info);
        const auto camera = handle ? handle->device() : nullptr;
        const auto pipe = camera ? static_cast<camtovra::device*>(camera.get())->camera()->endpoint_pipe() : nullptr;
        HANDLE copy = nullptr;
        if (!pipe || !DuplicateHandle(GetCurrentProcess(), pipe->thread_handle(), GetCurrentProcess(), &copy,
                                      SYNCHRONIZE, FALSE, 0)) {
            return nullptr;
        }
        return win32::unique_handle(copy);
    }
};

TEST_P(sim_device_e2e, a_client_process_takes_every_frame_checked_across_pauses)
{
    auto client = start_client(L"stream 100");
    ASSERT_TRUE(client.process);
    EXPECT_EQ(client.wait(120000), 0u);
    EXPECT_EQ(factory->stats().devices_created.load(), 1);
}

class sim_device_unplug : public sim_device_e2e {};

TEST_P(sim_device_unplug, an_unplug_mid_stream_sets_the_lost_event_ends_the_camera_and_a_new_camera_streams)
{
    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_client_ready_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    auto client = start_client(L"unplug " + ready_name, ready.get());
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "client exit " << client.wait(0);
    win32::unique_handle thread = pipe_thread();
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    const std::wstring old_serial = factory->serial_number();
    factory->unplug();
    EXPECT_EQ(client.wait(60000), 0u);
    EXPECT_TRUE(wait_listed(old_serial, false));
    EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0) << "the pipe thread ended";

    ASSERT_TRUE(factory->plug_in_new());
    ASSERT_TRUE(wait_listed(factory->serial_number()));
    auto again = start_client(L"stream 100");
    ASSERT_TRUE(again.process);
    EXPECT_EQ(again.wait(120000), 0u);
    EXPECT_EQ(factory->stats().devices_created.load(), 2);
}

std::string case_name(const ::testing::TestParamInfo<e2e_case>& info)
{
    return std::string(info.param.full_frame ? "full_frame" : "payload") +
           (info.param.acquisition_stop ? "" : "_no_acquisition_stop");
}

INSTANTIATE_TEST_SUITE_P(modes, sim_device_e2e,
                         ::testing::Values(e2e_case{false, true}, e2e_case{true, true}, e2e_case{false, false},
                                           e2e_case{true, false}),
                         case_name);
INSTANTIATE_TEST_SUITE_P(modes, sim_device_unplug, ::testing::Values(e2e_case{false, true}, e2e_case{true, true}),
                         case_name);

} // namespace
