// The camera base's debug properties and frame counters over a small UVC
// camera on the simulated device, its property store a real registry key.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"
#include "properties/property_store_registry.h"
#include "test_uvc_camera.h"

namespace {

using cam::PROPSETID_GENERIC_DRIVER_INTERFACE;

class camera_base_emulation_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
        store = std::make_shared<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
        ASSERT_TRUE(store->is_open());
    }
    void TearDown() override
    {
        if (bench.camera) {
            bench.camera->release_stream();
        }
        bench.camera.reset();
        store.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        service_log_level = saved_level;
        log_category_mask = saved_mask;
    }
    void open_and_init()
    {
        if (!bench.responder) {
            bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
        }
        ASSERT_EQ(bench.io.start(), STATUS_SUCCESS);
        auto file = nox_um::usb_device_handle::open(bench.io.device_path(), bench.io);
        ASSERT_TRUE(file.has_value());
        bench.device = std::make_shared<nox_um::usb_device_handle>(std::move(file).value(), bench.io.device_path());
        bench.camera = std::make_unique<uvc_test::test_uvc_camera>(cam::camera_creation{bench.device, &bench.sink, store});
        ASSERT_FALSE(bench.camera->init_device());
    }
    std::error_code named_set(std::string_view name, std::int64_t value)
    {
        std::vector<char> instance(8, '\0');
        instance.insert(instance.end(), name.begin(), name.end());
        instance.push_back('\0');
        return bench.camera->set_request(PROPSETID_GENERIC_DRIVER_INTERFACE, 4, instance.data(),
                                         static_cast<std::uint32_t>(instance.size()), &value, sizeof value);
    }
    std::error_code get(std::uint32_t id, std::vector<std::uint8_t>& b, std::uint32_t size)
    {
        b.assign(std::max<std::uint32_t>(size, 48), 0xEE);
        returned = 0;
        return bench.camera->get_request(PROPSETID_GENERIC_DRIVER_INTERFACE, id, nullptr, 0, b.data(), size,
                                         &returned, 0);
    }

    std::uint32_t saved_level = service_log_level.load();
    std::uint32_t saved_mask = log_category_mask.load();
    std::wstring path;
    std::shared_ptr<utils::property_store_registry> store;
    uvc_test::camera_bench bench;
    std::uint32_t returned = 0;
};

TEST_F(camera_base_emulation_test, exported_debug_features_reach_the_log_settings_and_stored_flags_load)
{
    ASSERT_TRUE(store->write_int(L"export_debug_properties", 1));
    ASSERT_TRUE(store->write_int(L"show_overlay", 1));
    ASSERT_TRUE(store->write_int(L"drop_incomplete_frames", 0));
    open_and_init();
    EXPECT_TRUE(bench.camera->debug_flags().show_overlay.load());
    EXPECT_FALSE(bench.camera->debug_flags().drop_incomplete_frames.load());

    ASSERT_FALSE(named_set("ServiceLogLevel_Elem/Value", 2));
    EXPECT_EQ(service_log_level.load(), 2u);
    log_category_mask = 0;
    ASSERT_FALSE(named_set("ServiceLogLevel_LogUVCRequests_Elem/Value", 1));
    EXPECT_EQ(log_category_mask.load(), 0x40000u);
    ASSERT_FALSE(named_set("Debug_ClearBufferOnReuse_Elem/Value", 1));
    EXPECT_TRUE(bench.camera->debug_flags().force_clear_buffers.load());

    std::vector<std::uint8_t> b;
    ASSERT_FALSE(get(21, b, 4));
    std::int32_t flag = 0;
    std::memcpy(&flag, b.data(), 4);
    EXPECT_EQ(flag, 1);
}

TEST_F(camera_base_emulation_test, the_frame_counters_are_what_the_frame_path_published)
{
    constexpr std::uint32_t vga_size = 640 * 480;
    sim_camera::payload_stream_config config;
    config.width = 640;
    config.height = 480;
    config.transfer_size = 16384;
    sim_camera::payload_source source(config);
    bench.io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    bench.io.camera.set_payload_generator(source.generator());
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    bench.responder->set_stream_sizes(vga_size, 16384);
    open_and_init();

    std::vector<std::uint8_t> b;
    EXPECT_EQ(get(25, b, 40), make_cam_error(static_cast<HRESULT>(0x8007007A)));
    EXPECT_EQ(returned, 48u);

    bench.sink.width = 640;
    bench.sink.image_size = vga_size;
    ASSERT_FALSE(bench.camera->try_start({img::fourcc("Y800"), 640, 480, 0}, 333333));
    bench.sink.make_buffers(4, bench.camera->required_frame_buffer_size());
    bench.sink.lend_all(*bench.camera);
    ASSERT_FALSE(bench.camera->start_streaming());
    ASSERT_TRUE(bench.sink.wait_for_frames(3));
    bench.camera->stop_streaming();

    // Stopped: the counters no longer move.
    ASSERT_FALSE(get(25, b, 48));
    EXPECT_EQ(returned, 48u);
    std::uint64_t delivered = 0;
    std::memcpy(&delivered, b.data(), 8);
    EXPECT_GE(delivered, 3u);
    EXPECT_EQ(delivered, bench.camera->counters().frames_delivered);

    bench.camera->release_stream();
    bench.sink.clear();
    ASSERT_FALSE(bench.camera->try_start({img::fourcc("Y800"), 640, 480, 0}, 333333));
    EXPECT_EQ(bench.camera->counters().frames_delivered, 0u);
    bench.camera->release_stream();
}

} // namespace
