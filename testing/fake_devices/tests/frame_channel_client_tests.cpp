// A client process takes frames of a camera whose stream comes from the
// simulated camera through the endpoint pipe, the frame path and the
// shared-memory channel, reaching the service's objects through the
// proxy/stub library.
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "gen_utils/win32_utils.h"
#include "service_host.h"
#include "streaming_device_factory.h"

namespace {

// Exit 12 (unmarshalling the service) and 4 (the first query on its device)
// name the client's first cross-process steps.
const test_support::client_program frame_client{FRAME_CLIENT_EXE, {12, 4}};

class frame_channel_client : public ::testing::Test {
protected:
    test_support::service_host host;
    std::shared_ptr<fake_devices::streaming_device_factory> factory;

    void SetUp() override
    {
        fake_devices::streaming_options options;
        options.camera.width = 320;
        options.camera.height = 120;
        options.camera.transfer_size = 4096;
        options.camera.frames_per_second = 200;
        factory = fake_devices::streaming_device_factory::make(options);

        ASSERT_NO_FATAL_FAILURE(host.start({factory}, PROXY_STUB_DLL));
    }
    void TearDown() override { host.stop(); }

    test_support::child_process start_client(const std::wstring& mode, HANDLE ready = nullptr)
    {
        return host.start_client(frame_client, mode, ready);
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
