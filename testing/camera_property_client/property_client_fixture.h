#pragma once
// The service's discover service and active device list over one test camera
// whose requests go to a handler registry the test fills, and the client
// process camera_property_client started against it: every request of its
// fixed list, with the HRESULT, the bytes returned and the value buffer the
// client saw.

#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"
#include "child_process.h"
#include "marshalled_interface.h"
#include "proxy_stub_registration.h"

namespace property_client_test {

struct answer {
    std::uint32_t hr = 0;
    std::uint32_t returned = 0;
    std::string bytes; // hexadecimal
};

inline std::map<std::string, answer> read_answers(const std::string& path)
{
    std::map<std::string, answer> answers;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, hr;
        answer a;
        fields >> name >> hr >> a.returned >> a.bytes;
        a.hr = static_cast<std::uint32_t>(std::stoul(hr, nullptr, 16));
        answers[name] = a;
    }
    return answers;
}

template <class T>
void put(std::vector<unsigned char>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

inline std::string hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    const char digits[] = "0123456789ABCDEF";
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// The 48-byte range-and-value record, as hexadecimal.
inline std::string record48(std::int32_t value, std::uint32_t flags, std::uint32_t caps, std::int32_t min,
                            std::int32_t max, std::int32_t def)
{
    std::vector<unsigned char> bytes(48, 0);
    put(bytes, 24, value);
    put(bytes, 28, flags);
    put(bytes, 32, caps);
    put(bytes, 36, min);
    put(bytes, 40, max);
    put(bytes, 44, def);
    return hex(bytes);
}

// The 56-byte float record, as hexadecimal.
inline std::string record56(float value, float min, float max, float def)
{
    std::vector<unsigned char> bytes(56, 0);
    put(bytes, 24, value);
    put(bytes, 28, min);
    put(bytes, 32, max);
    put(bytes, 36, def);
    put(bytes, 40, 2u);
    put(bytes, 44, 2u);
    put(bytes, 48, 1u);
    return hex(bytes);
}

class property_client_fixture : public ::testing::Test {
protected:
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_devices::fake_device_factory> factory = fake_devices::fake_device_factory::make();
    std::shared_ptr<fake_devices::request_registry> requests = std::make_shared<fake_devices::request_registry>();
    atl::com_ptr<ICamTovraDiscoverService> discover;
    bool com_initialised = false;
    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;

    // The service with one camera, "cam_0", whose requests go to `requests`;
    // run under ASSERT_NO_FATAL_FAILURE once the handlers are bound.
    void start_service()
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        com_initialised = true;
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

        atl::com_ptr<IClassFactory> class_object;
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
        if (com_initialised) {
            CoUninitialize();
        }
        // The registry may outlive this test in a camera COM still holds: it
        // must not keep pointing at this test's handlers.
        std::lock_guard lock(requests->request_mutex());
        std::vector<cam::property_req_key> keys;
        requests->table().for_each_position(
            [&](const cam::property_req_key& key, unsigned, cam::property_req_entry_itf&) { keys.push_back(key); });
        for (const cam::property_req_key& key : keys) {
            for (unsigned level = 0; level < cam::level_count; ++level) {
                requests->register_handler(key, nullptr, level);
            }
        }
    }

    // Starts the client and waits for its exit code. A client whose first
    // cross-process call failed in COM's transport (exit 12: unmarshalling
    // the service; exit 4: the first query on its device) is started again
    // after a growing pause, at most five times; every such attempt is printed.
    DWORD run_client(const std::wstring& out_path)
    {
        constexpr DWORD unmarshal_failed = 12;
        constexpr DWORD first_query_failed = 4;
        for (int attempt = 0;; ++attempt) {
            const std::wstring marshalled = test_support::marshal_to_hex(discover.get(), IID_ICamTovraDiscoverService);
            const std::wstring arguments = marshalled + L" \"" + out_path + L"\"";
            auto client = test_support::start_helper(CAMERA_PROPERTY_CLIENT_EXE, arguments);
            if (!client.process) {
                return 0xFFFFFFFF;
            }
            const DWORD exit_code = client.wait(60000);
            if (attempt == 4 || (exit_code != unmarshal_failed && exit_code != first_query_failed)) {
                return exit_code;
            }
            std::printf("camera_property_client: transport failure (exit %lu), attempt %d\n",
                        static_cast<unsigned long>(exit_code), attempt + 1);
            EXPECT_EQ(test_support::restore_proxy_stub(PROXY_STUB_DLL), "");
            Sleep(200 * (attempt + 1));
        }
    }

    // Runs the client into a file of its own and returns what it wrote; empty
    // (with a failure recorded) when it did not run to its end.
    std::map<std::string, answer> client_answers()
    {
        const std::string out = std::string(OUTPUT_DIR) + "/camera_property_" +
                                utils::to_utf8(win32::make_unique_global_name(L"").substr(7)) + ".txt";
        const DWORD exit_code = run_client(test_support::windows_path(out.c_str()));
        EXPECT_EQ(exit_code, 0u);
        auto answers = exit_code == 0 ? read_answers(out) : std::map<std::string, answer>{};
        std::remove(out.c_str());
        return answers;
    }
};

} // namespace property_client_test
