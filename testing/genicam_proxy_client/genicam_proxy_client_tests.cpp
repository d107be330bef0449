// A client process reads a camera's GenICam documents and features through
// the proxy/stub library, the service's COM objects and the named-request
// proxy behind a test camera.
#include <gtest/gtest.h>
#include <objbase.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "proxy_test_support.h"
#include "service_host.h"

namespace {

// Exit 12 (unmarshalling the service) and 4 (the first query on its device)
// name the client's first cross-process steps.
const test_support::client_program genicam_proxy_client{GENICAM_PROXY_CLIENT_EXE, {12, 4}};

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class genicam_client : public ::testing::Test {
protected:
    test_support::service_host host;
    std::shared_ptr<fake_devices::fake_device_factory> factory = fake_devices::fake_device_factory::make();
    std::shared_ptr<fake_devices::request_registry> requests = std::make_shared<fake_devices::request_registry>();
    genicam_test::memory_device_port device;
    drv_genicam::genicam_named_req_proxy proxy{*requests};
    proxy_test::register_handler* tone_mapping = nullptr;
    std::string service_text = proxy_test::service_xml();

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

        fake_devices::fake_camera camera{L"cam_0", L"Camera 0"};
        camera.requests = requests;
        factory->set_cameras({camera});
        ASSERT_NO_FATAL_FAILURE(host.start({factory}, PROXY_STUB_DLL));
    }
    void TearDown() override
    {
        host.stop();
        // The registry may outlive this test in a camera COM still holds:
        // it must not keep pointing at the proxy.
        for (const std::uint32_t id : {1u, 2u, 4u, 24u}) {
            requests->register_handler({cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id}, nullptr, cam::level_base);
        }
    }
};

TEST_F(genicam_client, reads_both_documents_exactly_and_carries_named_requests)
{
    const std::string out_prefix = std::string(OUTPUT_DIR) + "/genicam_doc_" +
                                   utils::to_utf8(win32::make_unique_global_name(L"").substr(7)) + "_";
    const std::wstring out_argument = L"\"" + test_support::windows_path(out_prefix.c_str()) + L"\"";
    EXPECT_EQ(host.run_client(genicam_proxy_client, out_argument), 0u);
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
