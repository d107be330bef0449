// A client process reads and sets the GenICam-backed camera properties and the
// service's feature groups through the proxy/stub library, the service's COM
// objects and the test camera's handler registry; every reply record is
// compared byte for byte.
#include <gtest/gtest.h>
#include <objbase.h>

#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "camera_feature_fixture.h"
#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "properties/genext_feature_groups.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"
#include "child_process.h"
#include "proxy_stub_registration.h"

namespace {

using atl::com_ptr;

std::wstring marshal_for_client(ICamTovraDiscoverService* service)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
        return {};
    }
    std::wstring hex;
    if (SUCCEEDED(CoMarshalInterface(stream, IID_ICamTovraDiscoverService, service, MSHCTX_LOCAL, nullptr,
                                     MSHLFLAGS_NORMAL))) {
        HGLOBAL memory = nullptr;
        STATSTG stat{};
        if (SUCCEEDED(GetHGlobalFromStream(stream, &memory)) && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
            const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
            const wchar_t digits[] = L"0123456789ABCDEF";
            for (ULONGLONG i = 0; i < stat.cbSize.QuadPart; ++i) {
                hex += digits[bytes[i] >> 4];
                hex += digits[bytes[i] & 15];
            }
            GlobalUnlock(memory);
        }
    }
    stream->Release();
    return hex;
}

struct answer {
    std::uint32_t hr = 0;
    std::uint32_t returned = 0;
    std::string bytes; // hexadecimal
};

std::map<std::string, answer> read_answers(const std::string& path)
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

// Little-endian hexadecimal of a record: `size` bytes, 32-bit fields from
// offset 24 on.
template <class T>
void put(std::vector<unsigned char>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}
std::string hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    const char digits[] = "0123456789ABCDEF";
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}
std::string record48(std::int32_t value, std::uint32_t flags, std::uint32_t caps, std::int32_t min, std::int32_t max,
                     std::int32_t def)
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
std::string record56(float value, float min, float max, float def)
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

class camera_property_client : public ::testing::Test {
protected:
    std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_devices::fake_device_factory> factory = fake_devices::fake_device_factory::make();
    std::shared_ptr<fake_devices::request_registry> requests = std::make_shared<fake_devices::request_registry>();
    camera_test::description description = camera_test::full_description();
    genicam_test::memory_device_port device;
    drv_genicam::genicam_named_req_proxy proxy{*requests};
    drv_genicam::exposure exposure;
    drv_genicam::gain gain;
    drv_genicam::strobe strobe;
    drv_genicam::gpio gpio;
    genext::tone_mapping_settings tone;
    std::uint32_t polarization = 0;
    std::string camera_text = description.xml();
    std::string service_text;
    com_ptr<ICamTovraDiscoverService> discover;
    std::mutex mutex;
    std::condition_variable changed;
    int refreshes = 0;

    template <class T>
    void poke(const char* feature, T value)
    {
        std::memcpy(device.memory.data() + description.address(feature), &value, sizeof(value));
    }
    template <class T>
    T peek(const char* feature)
    {
        T value{};
        std::memcpy(&value, device.memory.data() + description.address(feature), sizeof(value));
        return value;
    }

    void SetUp() override
    {
        // The camera as its feature set-up leaves it: its document on its
        // device, the service's groups in the second document, handlers bound.
        ASSERT_FALSE(proxy.init_and_register(camera_text.data(), camera_text.size(), &device));
        const auto docs = std::span<const drv_genicam::doc_entry>(proxy.documents());
        drv_genicam::add_exposure(exposure, docs, *requests);
        drv_genicam::add_gain(gain, docs, *requests);
        drv_genicam::add_strobe(strobe, docs, *requests);
        gpio.bind(drv_genicam::find_feature_as<GenICam::IInteger>(docs, "GPIn"),
                  drv_genicam::find_feature_as<GenICam::IInteger>(docs, "GPOut"));
        requests->register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::gpio}, &gpio,
                                   cam::level_base);
        gcxml::doc_builder writer(0xBCEA541200040000);
        gcxml::build_document(writer.doc);
        genext::add_tone_mapping(tone, writer, *requests, false);
        genext::add_polarization(polarization, writer, *requests, true);
        service_text = gcxml::write_register_description(writer.doc, "Vendor", "Model", "Tip");
        ASSERT_FALSE(proxy.init_and_register(service_text.data(), service_text.size(), &proxy));
        proxy.register_handlers();

        poke("Gain", 3.0);
        poke<std::int64_t>("GainRawHidden", 120);
        poke<std::int32_t>("GainAuto", 1);
        poke("ExposureTime", 10000.0);
        poke<std::int32_t>("StrobeEnable", 1);
        poke<std::int64_t>("StrobeDuration", 700);
        poke<std::int64_t>("GPIn", 1);
        tone.intensity = -2.5F;

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
            const std::wstring arguments = marshal_for_client(discover.get()) + L" \"" + out_path + L"\"";
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
};

TEST_F(camera_property_client, records_reach_the_client_byte_for_byte)
{
    const std::string out = std::string(OUTPUT_DIR) + "/camera_property_" +
                            utils::to_utf8(win32::make_unique_global_name(L"").substr(7)) + ".txt";
    ASSERT_EQ(run_client(test_support::windows_path(out.c_str())), 0u);
    const auto answers = read_answers(out);
    std::remove(out.c_str());

    std::vector<unsigned char> strobe_bytes(88, 0);
    put(strobe_bytes, 24, 1u);
    put(strobe_bytes, 40 + 4, 700);     // duration value
    put(strobe_bytes, 52, 100000);      // duration maximum
    put(strobe_bytes, 56, 100);         // duration default
    put(strobe_bytes, 36, 10000);       // delay maximum
    put(strobe_bytes, 64, 1u);          // polarity present
    put(strobe_bytes, 72, 1u);
    std::vector<unsigned char> gpio_bytes(40, 0);
    put(gpio_bytes, 24, 1);
    put(gpio_bytes, 32, 1);
    put(gpio_bytes, 36, 1);
    std::vector<unsigned char> intensity(8, 0);
    put(intensity, 0, -2.5);

    struct row {
        const char* name;
        std::uint32_t hr;
        std::uint32_t returned;
        std::string bytes; // empty: not compared
    };
    const row rows[] = {
        {"get_gain_vpa", 0, 48, record48(120, 3, 3, 0, 480, 0)},
        {"get_exposure_cc", 0, 48, record48(-6, 2, 3, -15, 4, -6)},
        {"get_gain_241", 0, 48, record48(300, 2, 2, 0, 4800, 0)},
        {"get_exposure_200", 0, 56, record56(0.01F, 0.00002F, 30.0F, 0.01F)},
        {"get_strobe", 0, 88, hex(strobe_bytes)},
        {"get_strobe_87", 0x8007007A, 88, {}},
        {"get_gpio", 0, 40, hex(gpio_bytes)},
        {"get_gpio_39", 0x8007007A, 40, {}},
        {"set_gain_241", 0, 0, {}},
        {"set_exposure_cc", 0, 0, {}},
        {"set_exposure_cc_31", 0x80070057, 0, {}},
        {"set_exposure_cc_min", 0x80070057, 0, {}},
        {"set_exposure_200", 0, 0, {}},
        {"set_exposure_200_55", 0x8007007A, 0, {}},
        {"get_exposure_200_after", 0, 56, record56(0.25F, 0.00002F, 30.0F, 0.01F)},
        {"get_intensity", 0, 8, hex(intensity)},
        {"get_polarization", 0, 11, {}},
    };
    for (const row& r : rows) {
        const auto found = answers.find(r.name);
        ASSERT_NE(found, answers.end()) << r.name;
        EXPECT_EQ(found->second.hr, r.hr) << r.name;
        EXPECT_EQ(found->second.returned, r.returned) << r.name;
        if (!r.bytes.empty()) {
            EXPECT_EQ(found->second.bytes, r.bytes) << r.name;
        }
    }
    EXPECT_EQ(answers.at("get_polarization").bytes.substr(0, 22), hex({'I', 'n', 't', 'e', 'n', 's', 'i', 't', 'y',
                                                                      '_', '0'}));
    std::lock_guard lock(requests->request_mutex());
    EXPECT_EQ(peek<double>("Gain"), 12.5);
    EXPECT_EQ(peek<double>("ExposureTime"), 250000.0);
}

} // namespace
