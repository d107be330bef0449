#include "service/active_device_handle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_active_device.h"
#include "gen_utils/log.h"

namespace {

using cam_service::active_device_handle;

constexpr GUID videoprocamp = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};

struct active_device_handle_test : ::testing::Test {
    std::shared_ptr<fake_devices::device_stats> stats = std::make_shared<fake_devices::device_stats>();
    std::shared_ptr<active_device_handle> handle = std::make_shared<active_device_handle>(
        std::shared_ptr<cam_service::active_device_base>(new fake_devices::fake_active_device(GUID{}, stats),
                                                         cam_service::ref_count_dtor{}),
        GUID{}, std::weak_ptr<cam_service::active_device_list>{});
    std::vector<std::string> lines;

    void SetUp() override
    {
        log_sinks[1] = [this](std::uint32_t, const char* text) { lines.emplace_back(text); };
    }
    void TearDown() override
    {
        log_sinks[1] = nullptr;
        service_log_level = 0;
        log_category_mask = 0;
    }
};

TEST_F(active_device_handle_test, property_requests_reach_the_camera_unchanged)
{
    std::uint32_t value = 0x12345678;
    EXPECT_EQ(handle->set(&videoprocamp, 5, nullptr, 0, &value, sizeof(value)), S_OK);
    std::uint32_t read = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &read, sizeof(read), &returned), S_OK);
    EXPECT_EQ(read, value);
    EXPECT_EQ(returned, 4u);
    std::uint16_t short_buffer = 0;
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &short_buffer, sizeof(short_buffer), &returned),
              static_cast<HRESULT>(0x8007007A));
    std::uint32_t support = 0;
    EXPECT_EQ(handle->query_supported(&videoprocamp, 5, &support), S_OK);
    EXPECT_EQ(support, 3u);
    EXPECT_EQ(handle->query_supported(&videoprocamp, 6, &support), E_NOTIMPL);
    EXPECT_EQ(handle->set(nullptr, 5, nullptr, 0, &value, sizeof(value)), E_POINTER);
}

TEST_F(active_device_handle_test, every_call_answers_device_gone_once_invalidated)
{
    handle->invalidate();
    EXPECT_EQ(WaitForSingleObject(handle->event(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(stats->devices_alive(), 0);
    std::uint32_t value = 0;
    EXPECT_EQ(handle->set(&videoprocamp, 5, nullptr, 0, &value, 4), cam_service::device_gone);
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &value, 4, nullptr), cam_service::device_gone);
    EXPECT_EQ(handle->query_supported(nullptr, 5, &value), cam_service::device_gone);
    EXPECT_EQ(handle->close_stream_channel(), cam_service::device_gone);
    EXPECT_EQ(handle->get_base_data(nullptr), cam_service::device_gone);
    EXPECT_EQ(handle->get_frame_info(0, nullptr, nullptr), cam_service::device_gone);
}

TEST_F(active_device_handle_test, ks_calls_are_traced_only_with_their_category_enabled)
{
    std::uint32_t value = 1;
    service_log_level = 4;
    handle->set(&videoprocamp, 5, nullptr, 0, &value, 4);
    EXPECT_TRUE(lines.empty());

    log_category_mask = logging::cat_ks_calls;
    handle->set(&videoprocamp, 5, nullptr, 0, &value, 4);
    const GUID unknown{};
    handle->get(&unknown, 7, nullptr, 0, &value, 4, nullptr);
    handle->query_supported(&videoprocamp, 9, &value);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[CamTovra] Set( PROPSETID_VIDCAP_VIDEOPROCAMP, 5, ... ) -> hr = 0x0\n");
    EXPECT_EQ(lines[1], "[CamTovra] Get( {00000000-0000-0000-0000-000000000000}, 7, ... ) -> hr = 0x80004001\n");
    EXPECT_EQ(lines[2], "[CamTovra] QuerySupported( PROPSETID_VIDCAP_VIDEOPROCAMP, 9, ... ) -> hr = 0x80004001\n");
}

} // namespace
