// Client processes stream from the real active camera device over the
// simulated camera: the service's discover service and active-device list run
// in this process with a factory whose record opens the device, and the
// client reaches them through the proxy/stub library. Rounds of a client in
// this process leave nothing behind.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include "atl/com_ptr.h"
#include "device_impl/camtovra/device.h"
#include "device_impl/device_impl_tools/propset/ks_prop_request.h"
#include "gen_utils/win32_utils.h"
#include "service_host.h"
#include "sim_device_factory.h"

namespace {

// Exit 12 (unmarshalling the service) and 4 (the first query on its device)
// name the client's first cross-process steps.
const test_support::client_program camtovra_client{CAMTOVRA_CLIENT_EXE, {12, 4}};

struct e2e_case {
    bool full_frame;
    bool acquisition_stop; // the camera's description has AcquisitionStop
};

class sim_device_e2e : public ::testing::TestWithParam<e2e_case> {
protected:
    test_support::service_host host;
    std::shared_ptr<sim_devices::sim_device_factory> factory;

    void SetUp() override
    {
        sim_devices::sim_camera_options options;
        options.full_frame = GetParam().full_frame;
        options.description.acquisition_stop = GetParam().acquisition_stop;
        options.frames_per_second = 30;
        factory = sim_devices::sim_device_factory::make(options);

        ASSERT_NO_FATAL_FAILURE(host.start({factory}, PROXY_STUB_DLL));
        ASSERT_TRUE(host.wait_listed(factory->serial_number()));
    }
    void TearDown() override
    {
        host.stop();
        EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));
    }

    test_support::child_process start_client(const std::wstring& mode, HANDLE ready = nullptr)
    {
        return host.start_client(camtovra_client, mode, ready, 120000);
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
    EXPECT_TRUE(host.wait_listed(old_serial, false));
    EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0) << "the pipe thread ended";

    ASSERT_TRUE(factory->plug_in_new());
    ASSERT_TRUE(host.wait_listed(factory->serial_number()));
    auto again = start_client(L"stream 100");
    ASSERT_TRUE(again.process);
    EXPECT_EQ(again.wait(120000), 0u);
    EXPECT_EQ(factory->stats().devices_created.load(), 2);
}

class sim_device_killed_client : public sim_device_e2e {};

// A client killed while it takes and gives back frames: the service lets go
// of its channel and stream, stays up, and the next client streams.
TEST_P(sim_device_killed_client, a_client_killed_while_returning_frames_lets_go_of_its_stream_and_the_next_one_streams)
{
    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_client_hold_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    win32::unique_handle go(CreateEventW(nullptr, TRUE, FALSE, (ready_name + L"_go").c_str()));
    auto client = start_client(L"hold " + ready_name, ready.get());
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "client exit " << client.wait(0);
    win32::unique_handle thread = pipe_thread();
    ASSERT_TRUE(thread);

    constexpr UINT killed = 99;
    ASSERT_TRUE(TerminateProcess(client.process.get(), killed));
    EXPECT_EQ(client.wait(30000), killed);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0) << "the killed client's stream was released";
    EXPECT_TRUE(host.wait_listed(factory->serial_number()));
    // Nothing of the killed client holds the camera any more: once idle, it
    // is closed, and the next client opens it afresh.
    ASSERT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));

    auto next = start_client(L"restream 100");
    ASSERT_TRUE(next.process);
    EXPECT_EQ(next.wait(120000), 0u);
}

// One client round through the discover object, as a capture filter opens a
// camera: the device object, the camera's information and formats, a channel
// whose semaphore is opened by name, five frames taken and given back, a
// pause, and everything released.
void open_read_stream_close(ICamTovraDiscoverService* discover)
{
    DShowDeviceServer_DeviceId ids[2] = {};
    ULONG listed = 0;
    ASSERT_EQ(discover->GetDiscoveredDeviceList(ids, 2, &listed), S_OK);
    atl::com_ptr<IUnknown> unknown;
    ASSERT_EQ(discover->CreateDevice(GetCurrentProcessId(), &ids[0], unknown.put()), S_OK);
    atl::com_ptr<ICamTovraDevice> device;
    ASSERT_EQ(unknown->QueryInterface(IID_ICamTovraDevice, device.put_void()), S_OK);
    GUID info_set = cam::PROPSETID_DRIVER_INFO_REQ;
    std::vector<unsigned char> info(camtovra::device::camera_info_size);
    ULONG returned = 0;
    EXPECT_EQ(device->Get(&info_set, 1, nullptr, 0, info.data(), camtovra::device::camera_info_size, &returned),
              S_OK);
    DShowDeviceServer_StreamFormatInfo formats[16] = {};
    ULONG count = 0;
    ASSERT_EQ(device->GetStreamFormatDesc(16, formats, &count), S_OK);
    const auto vga = std::find_if(formats, formats + count, [](const DShowDeviceServer_StreamFormatInfo& f) {
        return f.MaxDim.cx == 640 && f.MaxDim.cy == 480;
    });
    ASSERT_NE(vga, formats + count);
    DShowDeviceServer_StreamFormat format{vga->StreamFormatInfoId, vga->MaxDim, 333333, 0};

    atl::com_ptr<ICamTovraStreamChannel> channel;
    ASSERT_EQ(device->CreateStreamChannel(channel.put(), &format), S_OK);
    BSTR name = nullptr;
    ULONG buffers = 0;
    ASSERT_EQ(channel->GetBaseData(&name, &buffers), S_OK);
    win32::unique_handle semaphore(OpenSemaphoreW(SYNCHRONIZE, FALSE, name));
    SysFreeString(name);
    ASSERT_TRUE(semaphore);
    ASSERT_EQ(channel->StartStream(), S_OK);
    for (int taken = 0; taken < 5;) {
        ASSERT_EQ(WaitForSingleObject(semaphore.get(), 5000), WAIT_OBJECT_0) << "no frame after " << taken;
        DShowDeviceServer_StreamFrame frame{};
        DShowDeviceServer_FrameCountInfo counts{};
        if (channel->GetReadyFrame(&frame, &counts) == S_OK) {
            EXPECT_EQ(channel->ReleaseFrame(frame.shm_id), S_OK);
            ++taken;
        }
    }
    EXPECT_EQ(channel->PauseStream(), S_OK);
}

// What the service holds after rounds of a client is what it held after the
// first: the camera, opened once, waits idle, and the simulated camera (as
// the demonstration service runs it) keeps no record of the requests.
TEST(sim_device_rounds, open_read_stream_close_rounds_leave_nothing_behind)
{
    sim_devices::sim_camera_options options;
    options.frames_per_second = 200;
    const auto factory = sim_devices::sim_device_factory::make(options);
    test_support::service_host host;
    // The idle camera waits longer than the test runs.
    const DWORD idle_ms = 600000;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, host.root.c_str(), L"idle_device_timeout", REG_DWORD, &idle_ms,
                              sizeof(idle_ms)),
              ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(host.start({factory}));
    ASSERT_TRUE(host.wait_listed(factory->serial_number()));
    const auto unit = factory->unit();
    const auto list = cam_service::active_device_list_instance().load();

    ASSERT_NO_FATAL_FAILURE(open_read_stream_close(host.discover.get()));
    const std::size_t controls = unit->io.camera.control_log().size();
    const std::size_t commands = unit->gencp->commands().size();
    for (int round = 1; round < 20; ++round) {
        ASSERT_NO_FATAL_FAILURE(open_read_stream_close(host.discover.get())) << "round " << round;
    }
    EXPECT_EQ(unit->io.camera.control_log().size(), controls);
    EXPECT_EQ(unit->gencp->commands().size(), commands);
    EXPECT_EQ(list->active_count(), 0u);
    EXPECT_EQ(list->idle_count(), 1u);
    EXPECT_EQ(factory->stats().devices_created.load(), 1);

    host.stop();
    EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));
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
INSTANTIATE_TEST_SUITE_P(modes, sim_device_killed_client, ::testing::Values(e2e_case{false, true}), case_name);

} // namespace
