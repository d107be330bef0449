// A client process reads a camera's GenICam documents and features through
// the proxy/stub library, the service's COM objects and the named-request
// proxy behind a test camera.
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "proxy_test_support.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"
#include "child_process.h"
#include "marshalled_interface.h"
#include "proxy_stub_registration.h"

namespace {

using atl::com_ptr;

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class genicam_client : public ::testing::Test {
protected:
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_devices::fake_device_factory> factory = fake_devices::fake_device_factory::make();
    std::shared_ptr<fake_devices::request_registry> requests = std::make_shared<fake_devices::request_registry>();
    genicam_test::memory_device_port device;
    drv_genicam::genicam_named_req_proxy proxy{*requests};
    proxy_test::register_handler* tone_mapping = nullptr;
    std::string service_text = proxy_test::service_xml();
    com_ptr<ICamTovraDiscoverService> discover;
    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;

    void SetUp() override
    {
        // The camera as the camera base sets it up: its own document on its
        // device, the service's document on the proxy, the proxy and the
        // Boolean's handler in its registry.
        ASSERT_FALSE(proxy.init_and_register(proxy_test::camera_xml.data(), proxy_test::camera_xml.size(), &device));
        ASSERT_FALSE(proxy.init_and_register(service_text.data(), service_text.size(), &proxy));
        proxy.register_handlers();
        const cam::property_req_key tone_key{cam::PROPSETID_EMULATED_REGISTER, 0x00040008};
        tone_mapping = static_cast<proxy_test::register_handler*>(
            &requests->add_handler(std::make_unique<proxy_test::register_handler>(), {&tone_key, 1}));

        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        fake_devices::fake_camera camera{L"cam_0", L"Camera 0"};
        camera.requests = requests;
        factory->set_cameras({camera});

        service::discover_service::options options;
        options.devices_path = root + L"\\devices";
        options.factories = {factory};
        options.rescan_period = std::chrono::seconds(60);
        options.start_pause = std::chrono::milliseconds(0);
        options.sessions.enumerate = [] { return std::vector<service::session_state>{}; };
        options.sessions.active_console_session = [] { return service::no_session; };
        options.on_refreshed = [this] {
            {
                std::lock_guard lock(mutex);
                ++refreshes;
            }
            changed.notify_all();
        };
        auto service = std::make_shared<service::discover_service>(std::move(options));
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
        // The registry may outlive this test in a camera COM still holds:
        // it must not keep pointing at the proxy.
        for (const std::uint32_t id : {1u, 2u, 4u, 24u}) {
            requests->register_handler({cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id}, nullptr, cam::level_base);
        }
    }

    // Starts the client with fresh marshalling data and waits for its exit
    // code. A client whose first cross-process call failed in COM's
    // transport (exit 12: unmarshalling the service; exit 4: the first query
    // on its device) is started again after a growing pause, at most five
    // times; every such attempt is printed.
    DWORD run_client(const std::wstring& out_prefix)
    {
        constexpr DWORD unmarshal_failed = 12;
        constexpr DWORD first_query_failed = 4;
        for (int attempt = 0;; ++attempt) {
            const std::wstring marshalled = test_support::marshal_to_hex(discover.get(), IID_ICamTovraDiscoverService);
            const std::wstring arguments = marshalled + L" \"" + out_prefix + L"\"";
            auto client = test_support::start_helper(GENICAM_PROXY_CLIENT_EXE, arguments);
            if (!client.process) {
                return 0xFFFFFFFF;
            }
            const DWORD exit_code = client.wait(60000);
            if (attempt == 4 || (exit_code != unmarshal_failed && exit_code != first_query_failed)) {
                return exit_code;
            }
            std::printf("genicam_proxy_client: transport failure (exit %lu), attempt %d\n",
                        static_cast<unsigned long>(exit_code), attempt + 1);
            EXPECT_EQ(test_support::restore_proxy_stub(PROXY_STUB_DLL), "");
            Sleep(200 * (attempt + 1));
        }
    }
};

TEST_F(genicam_client, reads_both_documents_exactly_and_carries_named_requests)
{
    const std::string out_prefix = std::string(OUTPUT_DIR) + "/genicam_doc_" +
                                   utils::to_utf8(win32::make_unique_global_name(L"").substr(7)) + "_";
    EXPECT_EQ(run_client(test_support::windows_path(out_prefix.c_str())), 0u);
    EXPECT_EQ(file_text(out_prefix + "0.xml"), proxy_test::camera_xml);
    EXPECT_EQ(file_text(out_prefix + "1.xml"), service_text);
    std::remove((out_prefix + "0.xml").c_str());
    std::remove((out_prefix + "1.xml").c_str());

    std::lock_guard lock(requests->request_mutex());
    std::uint32_t width = 0;
    std::memcpy(&width, device.memory.data() + 0x100, 4);
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(tone_mapping->value, 1u);
    EXPECT_EQ(tone_mapping->sets, 1);
}

} // namespace
