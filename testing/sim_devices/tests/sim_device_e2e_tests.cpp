// Client processes stream from the real active camera device over the
// simulated camera: the service's discover service and active-device list run
// in this process with a factory whose record opens the device, and the
// client reaches them through the proxy/stub library. Rounds of a client in
// this process leave nothing behind.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "atl/com_ptr.h"
#include "device_impl/camtovra/device.h"
#include "device_impl/device_impl_tools/propset/ks_prop_request.h"
#include "device_impl/u3v/manifest_fetch.h"
#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
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

// A client asks the service to remove the mailslot "device_list", the name
// of the active-device list's own callback: nothing is removed, so an unplug
// still reaches every client of the camera within the one rescan it causes,
// and the camera plugged in next streams afresh.
class sim_device_device_list_removed : public sim_device_e2e {};

TEST_P(sim_device_device_list_removed, removing_device_list_leaves_every_client_seeing_the_unplug_and_a_new_camera_streams)
{
    BSTR device_list = SysAllocString(L"device_list");
    EXPECT_EQ(host.discover->RemoveEventMailslot(0, device_list), S_FALSE);
    SysFreeString(device_list);

    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_client_ready_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    auto client = start_client(L"unplug " + ready_name, ready.get());
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "client exit " << client.wait(0);
    // A second client of the camera, in this process.
    DShowDeviceServer_DeviceId id{};
    const std::string key = utils::to_utf8(factory->serial_number());
    std::memcpy(id.UniqueKey, key.data(), std::min(key.size(), sizeof(id.UniqueKey) - 1));
    atl::com_ptr<IUnknown> unknown;
    ASSERT_EQ(host.discover->CreateDevice(GetCurrentProcessId(), &id, unknown.put()), S_OK);
    atl::com_ptr<ICamTovraDevice> device;
    ASSERT_EQ(unknown->QueryInterface(IID_ICamTovraDevice, device.put_void()), S_OK);
    BSTR lost_name = nullptr;
    ASSERT_EQ(device->GetDeviceLostEventName(&lost_name), S_OK);
    win32::unique_handle lost(OpenEventW(SYNCHRONIZE, FALSE, lost_name));
    SysFreeString(lost_name);
    ASSERT_TRUE(lost);

    const int refreshed = host.refreshes();
    factory->unplug();
    ASSERT_TRUE(host.wait_refreshes(refreshed + 1));
    EXPECT_EQ(WaitForSingleObject(lost.get(), 0), WAIT_OBJECT_0) << "the rescan after the unplug set the lost event";
    EXPECT_EQ(client.wait(60000), 0u);
    device.reset();
    unknown.reset();
    EXPECT_TRUE(factory->stats().wait_all_released(std::chrono::seconds(30)));

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

DShowDeviceServer_DeviceId device_id_of(const std::wstring& unique_key)
{
    DShowDeviceServer_DeviceId id{};
    const std::string key = utils::to_utf8(unique_key);
    std::memcpy(id.UniqueKey, key.data(), std::min(key.size(), sizeof(id.UniqueKey) - 1));
    return id;
}

// Holds the simulated camera at a READMEM until released.
struct read_gate {
    std::mutex lock;
    std::condition_variable changed;
    bool reached = false;
    bool released = false;

    void pass()
    {
        std::unique_lock hold(lock);
        reached = true;
        changed.notify_all();
        changed.wait(hold, [&] { return released; });
    }
    bool wait_reached()
    {
        std::unique_lock hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(30), [&] { return reached; });
    }
    void release()
    {
        {
            std::lock_guard hold(lock);
            released = true;
        }
        changed.notify_all();
    }
};

// A camera that answers one data byte per acknowledge, held in the middle of
// its GenICam file: while it is being opened, the discover service reports
// another camera's removal to the active-device list, a second client lists
// the cameras and releases its handle on a third one, and none of them waits
// for the slow open. The slow open fails once its fetch budget is spent (on a
// clock the test moves), and the camera opens again afterwards.
TEST(sim_device_slow_open, other_clients_are_served_while_a_slow_camera_opens_and_its_open_ends_with_the_budget)
{
    const auto sim = sim_devices::sim_device_factory::make({});
    const auto fakes = fake_devices::fake_device_factory::make();
    fakes->set_cameras({{L"other_cam", L"Other camera"}, {L"leaving_cam", L"Leaving camera"}});
    test_support::service_host host;
    ASSERT_NO_FATAL_FAILURE(host.start({sim, fakes}));
    ASSERT_TRUE(host.wait_listed(sim->serial_number()));
    ASSERT_TRUE(host.wait_listed(L"leaving_cam"));
    DShowDeviceServer_DeviceId other_id = device_id_of(L"other_cam");
    DShowDeviceServer_DeviceId slow_id = device_id_of(sim->serial_number());
    atl::com_ptr<IUnknown> other;
    ASSERT_EQ(host.discover->CreateDevice(GetCurrentProcessId(), &other_id, other.put()), S_OK);

    const auto unit = sim->unit();
    // A file hash of its own: under the model's usual one the process's file
    // cache, filled by another test's camera, would serve the file without
    // the read the gate holds.
    unit->gencp->set_manifest({sim_camera::description_file(sim_camera::description_xml({}), 0x5D01)});
    unit->gencp->set_limits(13, 600); // one data byte per acknowledge
    read_gate gate;
    unit->gencp->on_register_read(sim_camera::manifest_files_address, [&gate] { gate.pass(); });
    std::atomic<std::int64_t> clock_ms{0};
    u3v_com::file_fetch_limits limits;
    limits.budget = std::chrono::seconds(5);
    limits.now = [&clock_ms] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(clock_ms)); };
    u3v_com::set_file_fetch_limits(limits);

    const auto create = [&](DShowDeviceServer_DeviceId id) {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IUnknown* device = nullptr;
        const HRESULT result = host.discover->CreateDevice(GetCurrentProcessId(), &id, &device);
        if (device != nullptr) {
            device->Release();
        }
        if (SUCCEEDED(com)) {
            CoUninitialize();
        }
        return result;
    };
    std::future<HRESULT> slow;
    std::future<ULONG> listing;
    std::future<void> release;
    // Whatever fails, the camera is let go before the futures are waited for.
    struct unhold {
        read_gate& gate;
        ~unhold()
        {
            gate.release();
            u3v_com::set_file_fetch_limits({});
        }
    } unhold_at_exit{gate};

    slow = std::async(std::launch::async, create, slow_id);
    ASSERT_TRUE(gate.wait_reached()) << "the slow camera's file was never read";

    const int refreshed = host.refreshes();
    fakes->set_cameras({{L"other_cam", L"Other camera"}});
    fakes->signal_change();
    EXPECT_TRUE(host.wait_refreshes(refreshed + 1, std::chrono::seconds(10)))
        << "the removal notice waited for the slow open";
    listing = std::async(std::launch::async, [&] {
        DShowDeviceServer_DeviceId ids[4] = {};
        ULONG count = 0;
        return SUCCEEDED(host.discover->GetDiscoveredDeviceList(ids, 4, &count)) ? count : ULONG{0};
    });
    ASSERT_EQ(listing.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "listing waited for the slow open";
    EXPECT_EQ(listing.get(), 2u);
    release = std::async(std::launch::async, [&] { other.reset(); });
    ASSERT_EQ(release.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "releasing another camera waited for the slow open";
    EXPECT_EQ(slow.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the slow open was held";

    clock_ms += 6000;
    gate.release();
    ASSERT_EQ(slow.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(FAILED(slow.get())) << "the fetch ended with its budget";
    EXPECT_TRUE(sim->stats().wait_all_released(std::chrono::seconds(30)));

    unit->gencp->set_limits(600, 600);
    u3v_com::set_file_fetch_limits({});
    EXPECT_EQ(create(slow_id), S_OK);
    EXPECT_EQ(sim->stats().devices_created.load(), 1) << "the open that ran out of time made no device";
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
INSTANTIATE_TEST_SUITE_P(modes, sim_device_device_list_removed, ::testing::Values(e2e_case{false, true}), case_name);
INSTANTIATE_TEST_SUITE_P(modes, sim_device_killed_client, ::testing::Values(e2e_case{false, true}), case_name);

} // namespace
