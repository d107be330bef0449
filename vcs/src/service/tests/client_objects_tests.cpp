// The client COM objects over a discover service and an active device list
// that serve fake cameras.
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "child_process.h"
#include "com_transport.h"
#include "device_client_exit.h"
#include "proxy_stub_registration.h"
#include "fake_active_device.h"
#include "fake_device_factory.h"
#include "request_registry.h"
#include "gen_utils/win32_utils.h"
#include "service/discover_service.h"
#include "service/dsdevice_handle.h"
#include "service/dsdevice_stream_channel.h"
#include "service/dshow_device_discover_service.h"
#include "service/dshow_device_info.h"
#include "service/service_components.h"
#include "service/service_holders.h"
#include "service_host.h"

namespace {

using atl::com_ptr;

// Unmarshalling the service and the first query on the device it hands out
// are the client's first cross-process steps: COM's transport.
const test_support::client_program device_client{
    DEVICE_CLIENT_EXE, {fake_devices::client_unmarshal_failed, fake_devices::client_device_query_failed}};
using fake_devices::fake_active_device;
using fake_devices::fake_camera;
using fake_devices::fake_device_factory;

constexpr HRESULT short_buffer = static_cast<HRESULT>(0x8007007A);
constexpr GUID videoprocamp = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};

DShowDeviceServer_DeviceId device_id(const std::string& key, const GUID& guid = GUID{})
{
    DShowDeviceServer_DeviceId id{};
    std::memcpy(id.UniqueKey, key.data(), std::min<std::size_t>(key.size(), sizeof(id.UniqueKey)));
    id.DeviceGUID = guid;
    return id;
}

class client_objects : public ::testing::Test {
protected:
    test_support::service_host host;
    com_ptr<ICamTovraDiscoverService>& discover = host.discover;
    std::shared_ptr<fake_device_factory> factory = fake_device_factory::make();
    // Property handlers of cam_0; without them it echoes what was set.
    std::shared_ptr<fake_devices::request_registry> cam_0_requests;

    void SetUp() override
    {
        factory->set_cameras({{L"cam_0", L"Camera 0", false, false, cam_0_requests},
                              {L"cam_1", L"Camera 1", false, true}});

        ASSERT_NO_FATAL_FAILURE(host.start({factory}));
    }
    void TearDown() override { host.stop(); }

    GUID guid_of(const wchar_t* key)
    {
        return service::discover_service_instance().load()->find_device(key, GUID{})->device_guid();
    }
    com_ptr<ICamTovraDevice> create_device(ULONG process_id, const std::string& key = "cam_0")
    {
        auto id = device_id(key);
        com_ptr<IUnknown> unknown;
        EXPECT_EQ(discover->CreateDevice(process_id, &id, unknown.put()), S_OK);
        com_ptr<ICamTovraDevice> device;
        if (unknown) {
            EXPECT_EQ(unknown->QueryInterface(IID_ICamTovraDevice, device.put_void()), S_OK);
        }
        return device;
    }
    com_ptr<ICamTovraStreamChannel> create_channel(ICamTovraDevice* device, unsigned format_id = 1)
    {
        DShowDeviceServer_StreamFormat format{};
        format.StreamFormatInfoId = format_id;
        com_ptr<ICamTovraStreamChannel> channel;
        EXPECT_EQ(device->CreateStreamChannel(channel.put(), &format), S_OK);
        return channel;
    }
    // The device-lost event of a device object, opened as a client opens it.
    static win32::unique_handle lost_event(ICamTovraDevice* device)
    {
        BSTR name = nullptr;
        if (device->GetDeviceLostEventName(&name) != S_OK) {
            return {};
        }
        win32::unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, name));
        SysFreeString(name);
        return event;
    }
    // The camera behind the live handle of an open camera.
    static fake_active_device* camera_of(const wchar_t* key)
    {
        auto info = service::discover_service_instance().load()->find_device(key, GUID{});
        auto handle = cam_service::active_device_list_instance().load()->open_device(info->device_guid(), info);
        return handle ? static_cast<fake_active_device*>(handle->device().get()) : nullptr;
    }
};

bool is_set(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

TEST_F(client_objects, device_list_is_filled_counted_and_refused_for_a_short_array)
{
    ULONG count = 0;
    DShowDeviceServer_DeviceId one{};
    EXPECT_EQ(discover->GetDiscoveredDeviceList(&one, 1, &count), short_buffer);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(discover->GetDiscoveredDeviceList(nullptr, 2, &count), E_POINTER);
    EXPECT_EQ(discover->GetDiscoveredDeviceList(&one, 1, nullptr), E_POINTER);

    DShowDeviceServer_DeviceId ids[3];
    std::memset(ids, 0xEE, sizeof(ids));
    ASSERT_EQ(discover->GetDiscoveredDeviceList(ids, 3, &count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(ids[0].UniqueKey, "cam_0");
    EXPECT_STREQ(ids[1].UniqueKey, "cam_1");
    EXPECT_EQ(ids[0].DeviceGUID, guid_of(L"cam_0"));
    EXPECT_EQ(static_cast<unsigned char>(ids[0].UniqueKey[6]), 0xEEu); // past the key: as the caller sent it
    EXPECT_EQ(static_cast<unsigned char>(ids[2].UniqueKey[0]), 0xEEu);
}

TEST_F(client_objects, a_long_unique_key_arrives_cut_and_terminated)
{
    const std::wstring key(140, L'k');
    factory->set_cameras({{key, L"Long"}});
    factory->signal_change();
    ASSERT_TRUE(host.wait_listed(L"cam_0", false));
    DShowDeviceServer_DeviceId id;
    ULONG count = 0;
    ASSERT_EQ(discover->GetDiscoveredDeviceList(&id, 1, &count), S_OK);
    EXPECT_EQ(std::string(id.UniqueKey), std::string(127, 'k'));

    // A record without a terminating zero is read as its first 127 bytes;
    // the camera is found by the GUID it carries.
    auto query = device_id(std::string(128, 'z'), id.DeviceGUID);
    com_ptr<ICamTovraDeviceInfo> info;
    EXPECT_EQ(discover->GetDeviceInstanceInfo(&query, info.put()), S_OK);
}

TEST_F(client_objects, device_info_lookup_and_its_property_store)
{
    com_ptr<ICamTovraDeviceInfo> info;
    auto unknown = device_id("nobody", GUID{9, 9, 9, {}});
    EXPECT_EQ(discover->GetDeviceInstanceInfo(&unknown, info.put()), E_INVALIDARG);
    EXPECT_EQ(discover->GetDeviceInstanceInfo(&unknown, nullptr), E_POINTER);

    // cam_0 has no store: E_NOTIMPL after the pointer checks.
    auto by_key = device_id("cam_0");
    ASSERT_EQ(discover->GetDeviceInstanceInfo(&by_key, info.put()), S_OK);
    VARIANT value;
    VariantInit(&value);
    wchar_t name[] = L"value";
    EXPECT_EQ(info->ReadProperty(name, &value), E_NOTIMPL);
    EXPECT_EQ(info->ReadProperty(nullptr, &value), E_POINTER);

    // cam_1 carries one, found by its GUID alone.
    auto by_guid = device_id("", guid_of(L"cam_1"));
    ASSERT_EQ(discover->GetDeviceInstanceInfo(&by_guid, info.put()), S_OK);
    EXPECT_EQ(info->ReadProperty(name, &value), E_INVALIDARG);
    value.vt = VT_R8;
    value.dblVal = 1.0;
    ASSERT_EQ(info->WriteProperty(name, &value), S_OK);
    VARIANT read;
    VariantInit(&read);
    ASSERT_EQ(info->ReadProperty(name, &read), S_OK);
    EXPECT_EQ(read.vt, VT_I8);
    EXPECT_EQ(read.llVal, 0x3FF0000000000000LL);

    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"text");
    ASSERT_EQ(info->WriteProperty(name, &value), S_OK);
    VariantClear(&value);
    ASSERT_EQ(info->ReadProperty(name, &read), S_OK);
    EXPECT_EQ(read.vt, VT_BSTR);
    EXPECT_STREQ(read.bstrVal, L"text");
    VariantClear(&read);

    value.vt = VT_DATE;
    value.date = 1.0;
    EXPECT_EQ(info->WriteProperty(name, &value), E_FAIL);
    EXPECT_EQ(info->WriteProperty(name, nullptr), E_POINTER);
}

TEST(variant_to_stored_integer, takes_only_the_bytes_each_type_sets)
{
    struct row {
        VARTYPE vt;
        std::uint64_t data; // the whole data field, garbage above what the type sets
        std::int64_t stored;
    };
    const row rows[] = {
        {VT_I1, 0xABABABABABABAB80ull, 0x80},
        {VT_UI1, 0xABABABABABABABFFull, 0xFF},
        {VT_I2, 0xABABABABABAB8001ull, 0x8001},
        {VT_BOOL, 0xABABABABABABFFFFull, 0xFFFF},
        {VT_I4, 0xABABABABFFFFFFFEull, -2},
        {VT_UI4, 0xABABABAB80000000ull, -2147483648LL},
        {VT_I8, 0x8000000000000001ull, static_cast<std::int64_t>(0x8000000000000001ull)},
    };
    for (const auto& r : rows) {
        VARIANT v;
        VariantInit(&v);
        v.vt = r.vt;
        std::memcpy(&v.llVal, &r.data, 8);
        std::int64_t stored = 0;
        ASSERT_TRUE(variant_to_stored_integer(v, stored)) << r.vt;
        EXPECT_EQ(stored, r.stored) << r.vt;
    }
    VARIANT other;
    VariantInit(&other);
    other.vt = VT_CY;
    std::int64_t stored = 7;
    EXPECT_FALSE(variant_to_stored_integer(other, stored));
}

TEST_F(client_objects, create_device_finds_a_camera_by_key_or_guid_and_shares_one_tracker_per_process)
{
    auto by_key = create_device(GetCurrentProcessId());
    ASSERT_TRUE(by_key);
    auto id = device_id("", guid_of(L"cam_0"));
    com_ptr<IUnknown> by_guid;
    ASSERT_EQ(discover->CreateDevice(GetCurrentProcessId(), &id, by_guid.put()), S_OK);
    EXPECT_EQ(factory->stats()->create_calls, 1); // one camera, one handle

    BSTR first = nullptr;
    ASSERT_EQ(by_key->GetDeviceLostEventName(&first), S_OK);
    com_ptr<ICamTovraDevice> second;
    ASSERT_EQ(by_guid->QueryInterface(IID_ICamTovraDevice, second.put_void()), S_OK);
    BSTR other = nullptr;
    ASSERT_EQ(second->GetDeviceLostEventName(&other), S_OK);
    EXPECT_STREQ(first, other);
    SysFreeString(first);
    SysFreeString(other);

    auto unknown = device_id("nobody");
    com_ptr<IUnknown> none;
    EXPECT_EQ(discover->CreateDevice(GetCurrentProcessId(), &unknown, none.put()), E_INVALIDARG);
    EXPECT_EQ(discover->CreateDevice(GetCurrentProcessId(), nullptr, none.put()), E_POINTER);
    EXPECT_EQ(discover->CreateDevice(GetCurrentProcessId(), &unknown, nullptr), E_POINTER);
    EXPECT_EQ(discover->CreateDevice(0xFFFFFFF0u, &id, none.put()), E_FAIL); // no such process
    EXPECT_EQ(discover->AttachDeviceServer(1, nullptr), E_POINTER);
    EXPECT_EQ(discover->AttachDeviceServer(1, by_guid.get()), E_NOTIMPL);
}

// Start-up and continue as the service module runs them. A client may see a
// camera in the list the moment the discover service's worker lists it, while
// the service thread is still inside start-up or continue (a busy machine
// holds it there): that client must be able to open the camera then.
class service_components_start : public ::testing::Test {
protected:
    const std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    std::shared_ptr<fake_device_factory> factory = fake_device_factory::make();
    com_ptr<ICamTovraDiscoverService> discover;
    std::mutex mutex;
    std::condition_variable refreshed; // told after each refresh of the discover service

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        com_initialised_ = true;
        factory->set_cameras({{L"cam_0", L"Camera 0"}});
        com_ptr<IClassFactory> class_object;
        ASSERT_EQ(atl::singleton_class_factory<CDShowDeviceDiscoverService>::create(class_object.put()), S_OK);
        ASSERT_EQ(class_object->CreateInstance(nullptr, IID_ICamTovraDiscoverService, discover.put_void()), S_OK);
    }
    void TearDown() override
    {
        factory->set_on_subscribe(nullptr);
        service::components::stop();
        discover.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        if (com_initialised_) {
            CoUninitialize();
        }
    }

    service::discover_service::options options()
    {
        service::discover_service::options o;
        o.devices_path = root + L"\\devices";
        o.factories = {factory};
        o.rescan_period = std::chrono::seconds(60);
        o.start_pause = std::chrono::milliseconds(0);
        o.sessions.enumerate = [] { return std::vector<service::session_state>{}; };
        o.sessions.active_console_session = [] { return service::no_session; };
        o.on_refreshed = [this] {
            { // after a waiter's check of the list under the mutex: no notice is lost
                std::lock_guard lock(mutex);
            }
            refreshed.notify_all();
        };
        return o;
    }

    // Runs `step` (start-up or continue) with the service thread held where
    // the discover service subscribes to its factories, right after its worker
    // began: there it waits until the worker lists the camera and opens it as
    // a client that just saw it would. The answers, in order.
    std::vector<HRESULT> opened_while_held(const std::function<void()>& step)
    {
        std::vector<HRESULT> answers; // only the service thread adds, inside `step`
        factory->set_on_subscribe([this, &answers] {
            {
                std::unique_lock lock(mutex);
                const bool listed = refreshed.wait_for(lock, std::chrono::seconds(30), [] {
                    const auto service = service::discover_service_instance().load();
                    return service && !service->get_device_list().empty();
                });
                if (!listed) {
                    answers.push_back(E_ABORT); // never listed: the caller's check fails on it
                    return;
                }
            }
            auto id = device_id("cam_0");
            com_ptr<IUnknown> device;
            answers.push_back(discover->CreateDevice(GetCurrentProcessId(), &id, device.put()));
        });
        step();
        factory->set_on_subscribe(nullptr);
        return answers;
    }
    // Waits until the discover service lists cam_0.
    bool wait_listed()
    {
        std::unique_lock lock(mutex);
        return refreshed.wait_for(lock, std::chrono::seconds(30), [] {
            const auto service = service::discover_service_instance().load();
            return service && !service->get_device_list().empty();
        });
    }
    // A handle on the camera the discover service lists, as a client opens it.
    static std::shared_ptr<cam_service::active_device_handle> open_listed()
    {
        const auto info = service::discover_service_instance().load()->get_device_list().at(0);
        return cam_service::active_device_list_instance().load()->open_device(info->device_guid(), info);
    }

private:
    bool com_initialised_ = false;
};

TEST_F(service_components_start, a_camera_listed_during_start_up_or_continue_opens_at_once)
{
    EXPECT_EQ(opened_while_held([&] { service::components::create(options()); }), std::vector<HRESULT>{S_OK})
        << "start-up";
    service::components::pause();
    EXPECT_EQ(opened_while_held([] { service::components::resume(); }), std::vector<HRESULT>{S_OK}) << "continue";
}

// A pause whose discover service fails to stop midway (a factory that cannot
// end its change notification) still releases every camera; after continue
// the list hears of an unplugged camera again.
TEST_F(service_components_start, a_pause_that_fails_midway_leaves_the_list_hearing_of_removals_after_continue)
{
    service::components::create(options());
    ASSERT_TRUE(wait_listed());
    const auto list = cam_service::active_device_list_instance().load();
    const auto before = open_listed();
    ASSERT_TRUE(before);

    factory->throw_at_next_stop();
    EXPECT_THROW(service::components::pause(), std::runtime_error) << "the failure is still reported";
    EXPECT_TRUE(WaitForSingleObject(before->event(), 0) == WAIT_OBJECT_0) << "paused all the same";
    EXPECT_FALSE(before->device());
    EXPECT_EQ(factory->stats()->devices_alive(), 0);

    service::components::resume();
    ASSERT_TRUE(wait_listed());
    const auto handle = open_listed();
    ASSERT_TRUE(handle);
    factory->set_cameras({});
    factory->signal_change();
    EXPECT_EQ(WaitForSingleObject(handle->event(), 10000), WAIT_OBJECT_0) << "the list heard of the unplug";
    // The handle lets go of the camera right after its event is set, on the notifier's thread.
    EXPECT_TRUE(factory->stats()->wait_released(2));
    EXPECT_FALSE(handle->device());
    EXPECT_EQ(list->active_count(), 0u);
}

TEST_F(client_objects, property_requests_reach_the_camera_and_answer_device_gone_after_pause)
{
    auto device = create_device(GetCurrentProcessId());
    ASSERT_TRUE(device);
    GUID set = videoprocamp;
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(device->Set(&set, 5, nullptr, 0, data, 4), S_OK);
    unsigned char read[8] = {};
    ULONG returned = 0;
    EXPECT_EQ(device->Get(&set, 5, nullptr, 0, read, 8, &returned), S_OK);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(std::memcmp(read, data, 4), 0);
    ULONG support = 0;
    EXPECT_EQ(device->QuerySupported(&set, 5, &support), S_OK);
    EXPECT_EQ(device->QuerySupported(&set, 99, &support), E_NOTIMPL);
    EXPECT_EQ(device->Set(nullptr, 5, nullptr, 0, data, 4), E_POINTER);

    BSTR event_name = nullptr;
    ASSERT_EQ(device->GetDeviceLostEventName(&event_name), S_OK);
    win32::unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, event_name));
    SysFreeString(event_name);
    ASSERT_TRUE(event);

    cam_service::active_device_list_instance().load()->pause();
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(device->Set(&set, 5, nullptr, 0, data, 4), cam_service::device_gone);
    EXPECT_EQ(device->Get(&set, 5, nullptr, 0, read, 8, &returned), cam_service::device_gone);
    EXPECT_EQ(device->QuerySupported(&set, 5, &support), cam_service::device_gone);
    EXPECT_EQ(device->GetDeviceLostEventName(&event_name), cam_service::device_gone);
    DShowDeviceServer_StreamFormat format{};
    EXPECT_EQ(device->GetStreamFormatCurrent(&format), cam_service::device_gone);
    auto id = device_id("cam_0");
    com_ptr<IUnknown> refused;
    EXPECT_EQ(discover->CreateDevice(GetCurrentProcessId(), &id, refused.put()), E_INVALIDARG);
}

TEST_F(client_objects, stream_format_queries_and_null_arguments)
{
    auto device = create_device(GetCurrentProcessId());
    ASSERT_TRUE(device);
    DShowDeviceServer_StreamFormatInfo formats[2];
    ULONG count = 0;
    EXPECT_EQ(device->GetStreamFormatDesc(1, formats, &count), short_buffer);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(device->GetStreamFormatDesc(2, formats, &count), S_OK);
    EXPECT_EQ(formats[1].BitsPerPixel, 16u);
    EXPECT_EQ(device->GetStreamFormatInputDesc(2, formats, &count), S_OK);
    EXPECT_EQ(device->GetStreamFormatDesc(2, formats, nullptr), E_POINTER);
    UINT64 rates[1] = {};
    DShowDeviceServer_StreamFormat format{};
    EXPECT_EQ(device->GetStreamFormatFrameRates(&format, 1, rates, &count), S_OK);
    EXPECT_EQ(rates[0], 333333u);
    EXPECT_EQ(device->GetStreamFormatFrameRates(nullptr, 1, rates, &count), E_POINTER);
    EXPECT_EQ(device->GetStreamFormatCurrent(nullptr), E_POINTER);
    EXPECT_EQ(device->GetDeviceLostEventName(nullptr), E_POINTER);

    // Nothing is prepared on the camera before both pointers are checked.
    com_ptr<ICamTovraStreamChannel> channel;
    EXPECT_EQ(device->CreateStreamChannel(nullptr, &format), E_POINTER);
    EXPECT_EQ(device->CreateStreamChannel(channel.put(), nullptr), E_POINTER);
    EXPECT_EQ(factory->stats()->prepare_stream_calls, 0);
}

TEST_F(client_objects, stream_channel_maps_onto_the_camera)
{
    auto device = create_device(GetCurrentProcessId());
    auto channel = create_channel(device.get());
    ASSERT_TRUE(channel);
    EXPECT_EQ(factory->stats()->prepare_stream_calls, 1);

    BSTR name = nullptr;
    ULONG frames = 0;
    ASSERT_EQ(channel->GetBaseData(&name, &frames), S_OK);
    EXPECT_STREQ(name, L"Global\\fake_semaphore");
    EXPECT_EQ(frames, 4u);
    SysFreeString(name);
    UINT64 frame_id = 0;
    ASSERT_EQ(channel->GetFrameInfo(2, &name, &frame_id), S_OK);
    EXPECT_STREQ(name, L"Global\\fake_frame_2");
    EXPECT_EQ(frame_id, 102u);
    SysFreeString(name);
    EXPECT_EQ(channel->GetFrameInfo(9, &name, &frame_id), E_INVALIDARG);
    EXPECT_EQ(channel->GetFrameInfo(0, nullptr, &frame_id), E_POINTER);

    EXPECT_EQ(channel->StartStream(), S_OK);
    DShowDeviceServer_StreamFrame frame{};
    DShowDeviceServer_FrameCountInfo counters{};
    EXPECT_EQ(channel->GetReadyFrame(&frame, &counters), S_FALSE);
    EXPECT_EQ(channel->GetReadyFrame(nullptr, &counters), E_POINTER);
    auto info = service::discover_service_instance().load()->find_device(L"cam_0", GUID{});
    auto handle = cam_service::active_device_list_instance().load()->open_device(info->device_guid(), info);
    auto* camera = static_cast<fake_active_device*>(handle->device().get());
    camera->queue_frame(101);
    EXPECT_EQ(channel->GetReadyFrame(&frame, &counters), S_OK);
    EXPECT_EQ(frame.shm_id, 101u);
    EXPECT_EQ(counters.frames_delivered, 1u);
    EXPECT_EQ(channel->ReleaseFrame(101), S_OK);
    EXPECT_EQ(channel->ReleaseFrame(12345), S_OK); // unknown ids too
    EXPECT_EQ(camera->released_frames(), (std::vector<std::uint64_t>{101, 12345}));
    EXPECT_EQ(channel->PauseStream(), S_OK);

    unsigned fourcc = 0;
    SIZE size{};
    unsigned largest = 0;
    ASSERT_EQ(channel->GetStreamFormat(&fourcc, &size, &largest), S_OK);
    EXPECT_EQ(fourcc, 0x30303859u);
    EXPECT_EQ(size.cx, 640);
    EXPECT_EQ(size.cy, 480);
    EXPECT_EQ(largest, 640u * 480u);
    EXPECT_EQ(channel->GetStreamFormat(&fourcc, nullptr, &largest), E_POINTER);

    channel.reset();
    EXPECT_EQ(factory->stats()->close_stream_calls, 1);

    // A format the camera refuses gives no channel, and the client learns why.
    DShowDeviceServer_StreamFormat refused{};
    refused.StreamFormatInfoId = fake_active_device::refused_format_id;
    EXPECT_EQ(device->CreateStreamChannel(channel.put(), &refused), E_INVALIDARG);
}

// A stream that ends as a device error is told to the clients of the handle
// whose channel streamed, and to no other: a client that opened the camera
// after the loss hears only of its own stream's failure, and a told client
// asking for a new channel hears that its camera is gone.
TEST_F(client_objects, a_stream_failure_is_told_only_to_the_client_whose_channel_streamed)
{
    auto told = create_device(GetCurrentProcessId());
    ASSERT_TRUE(told);
    const auto told_lost = lost_event(told.get());
    auto told_channel = create_channel(told.get());
    ASSERT_TRUE(told_lost && told_channel);
    ASSERT_EQ(told_channel->StartStream(), S_OK);
    fake_active_device* camera = camera_of(L"cam_0");
    ASSERT_TRUE(camera);
    camera->fail_stream();
    ASSERT_TRUE(is_set(told_lost.get()));

    auto later = create_device(GetCurrentProcessId());
    ASSERT_TRUE(later);
    const auto later_lost = lost_event(later.get());
    ASSERT_TRUE(later_lost);
    EXPECT_FALSE(is_set(later_lost.get()));
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    com_ptr<ICamTovraStreamChannel> refused;
    EXPECT_EQ(later->CreateStreamChannel(refused.put(), &format), E_ACCESSDENIED) << "one channel at a time";
    // The told client's channel streams again and fails again.
    ASSERT_EQ(told_channel->StartStream(), S_OK);
    camera->fail_stream();
    EXPECT_FALSE(is_set(later_lost.get()));

    told_channel.reset();
    EXPECT_EQ(told->CreateStreamChannel(refused.put(), &format), cam_service::device_gone);
    EXPECT_FALSE(refused);
    camera->fail_stream(); // whatever streams now fails
    EXPECT_FALSE(is_set(later_lost.get()));

    auto later_channel = create_channel(later.get());
    ASSERT_TRUE(later_channel);
    ASSERT_EQ(later_channel->StartStream(), S_OK);
    camera->fail_stream();
    EXPECT_TRUE(is_set(later_lost.get()));
    EXPECT_EQ(factory->stats()->create_calls, 1);

    // A removed camera answers every client so.
    later_channel.reset();
    auto fresh = create_device(GetCurrentProcessId());
    ASSERT_TRUE(fresh);
    cam_service::active_device_list_instance().load()->on_list_changed(cam_service::list_change_removed,
                                                                       guid_of(L"cam_0"));
    EXPECT_EQ(fresh->CreateStreamChannel(refused.put(), &format), cam_service::device_gone);
}

TEST_F(client_objects, names_from_the_camera_are_never_read_past_their_block)
{
    auto device = create_device(GetCurrentProcessId());
    auto channel = create_channel(device.get());
    ASSERT_TRUE(channel);
    auto list = cam_service::active_device_list_instance().load();
    // The camera behind the handle: fill its names to the block's end.
    auto info = service::discover_service_instance().load()->find_device(L"cam_0", GUID{});
    auto handle = list->open_device(info->device_guid(), info);
    static_cast<fake_active_device*>(handle->device().get())->set_unterminated_names(true);

    BSTR name = nullptr;
    ULONG frames = 0;
    ASSERT_EQ(channel->GetBaseData(&name, &frames), S_OK);
    EXPECT_EQ(SysStringLen(name), 128u);
    SysFreeString(name);
    UINT64 id = 0;
    ASSERT_EQ(channel->GetFrameInfo(0, &name, &id), S_OK);
    EXPECT_EQ(SysStringLen(name), 128u);
    SysFreeString(name);
}

TEST_F(client_objects, a_device_object_of_process_zero_cannot_stream)
{
    auto device = create_device(0);
    ASSERT_TRUE(device);
    DShowDeviceServer_StreamFormat format{};
    com_ptr<ICamTovraStreamChannel> channel;
    EXPECT_EQ(device->CreateStreamChannel(channel.put(), &format), cam_service::device_gone);
    GUID set = videoprocamp;
    ULONG support = 0;
    EXPECT_EQ(device->QuerySupported(&set, 1, &support), E_NOTIMPL); // the camera answers
}

TEST_F(client_objects, objects_made_through_their_class_objects_hold_no_device)
{
    com_ptr<IClassFactory> class_object;
    ASSERT_EQ(atl::singleton_class_factory<CDSDevice_Handle>::create(class_object.put()), S_OK);
    com_ptr<ICamTovraDevice> device;
    ASSERT_EQ(class_object->CreateInstance(nullptr, IID_ICamTovraDevice, device.put_void()), S_OK);
    GUID set = videoprocamp;
    ULONG support = 0;
    EXPECT_EQ(device->QuerySupported(&set, 1, &support), cam_service::device_gone);

    ASSERT_EQ(atl::singleton_class_factory<CDSDevice_StreamChannel>::create(class_object.put()), S_OK);
    com_ptr<ICamTovraStreamChannel> channel;
    ASSERT_EQ(class_object->CreateInstance(nullptr, IID_ICamTovraStreamChannel, channel.put_void()), S_OK);
    EXPECT_EQ(channel->StartStream(), cam_service::device_gone);
    EXPECT_EQ(channel->ReleaseFrame(1), cam_service::device_gone);
}

TEST_F(client_objects, a_killed_client_lets_go_of_its_camera_and_channel_once)
{
    const std::wstring event_name = win32::make_unique_global_name(L"camtovra_client_");
    win32::unique_handle exit_event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    auto client = test_support::start_helper(WAIT_FOR_EVENT_EXE, event_name);
    ASSERT_TRUE(client.process);

    auto device = create_device(client.id);
    auto second = create_device(client.id);
    ASSERT_TRUE(device && second);
    auto channel = create_channel(device.get());
    ASSERT_TRUE(channel);
    EXPECT_EQ(factory->stats()->devices_alive(), 1);

    TerminateProcess(client.process.get(), 9);
    // The camera goes idle once every object of the client has let go of it.
    for (int i = 0; i < 2000 && cam_service::active_device_list_instance().load()->idle_count() == 0; ++i) {
        Sleep(5);
    }
    EXPECT_EQ(cam_service::active_device_list_instance().load()->idle_count(), 1u);
    EXPECT_EQ(factory->stats()->close_stream_calls, 1);
    GUID set = videoprocamp;
    ULONG support = 0;
    EXPECT_EQ(device->QuerySupported(&set, 1, &support), cam_service::device_gone);
    EXPECT_EQ(channel->StartStream(), cam_service::device_gone);

    channel.reset(); // COM's late release closes nothing more
    EXPECT_EQ(factory->stats()->close_stream_calls, 1);

    // A device object for a process that has ended is refused, or, when the
    // ended process could still be opened, lets go of its camera at once.
    client.process.reset();
    auto id = device_id("cam_0");
    com_ptr<IUnknown> late;
    const HRESULT hr = discover->CreateDevice(client.id, &id, late.put());
    if (hr == S_OK) {
        com_ptr<ICamTovraDevice> late_device;
        ASSERT_EQ(late->QueryInterface(IID_ICamTovraDevice, late_device.put_void()), S_OK);
        HRESULT answer = late_device->QuerySupported(&set, 1, &support);
        for (int i = 0; i < 2000 && answer != cam_service::device_gone; ++i) {
            Sleep(5);
            answer = late_device->QuerySupported(&set, 1, &support);
        }
        EXPECT_EQ(answer, cam_service::device_gone);
    } else {
        EXPECT_EQ(hr, E_FAIL);
    }
}

// Client processes reach these objects through the proxy/stub library.
class client_process : public client_objects {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(client_objects::SetUp());
        ASSERT_NO_FATAL_FAILURE(host.serve_clients(PROXY_STUB_DLL));
    }

    // Starts device_client and returns once it ended or signalled `ready`.
    // The client itself tries again each step that COM's transport failed;
    // only its very first step, unmarshalling the service, can stay failed
    // within one process (nothing of ours has run yet): such a client is
    // started again by the host.
    test_support::child_process run_client(const std::wstring& extra_arguments, HANDLE ready = nullptr)
    {
        return host.start_client(device_client, extra_arguments, ready);
    }
    // The exit code and its meaning, with what this process's COM resolves
    // where that is not the registered proxy/stub.
    static std::string exit_text(DWORD code)
    {
        std::string text = std::to_string(code) + " (" + fake_devices::describe_device_client_exit(code) + ")";
        for (const IID* iid : interfaces) {
            if (const std::string mismatch = test_support::proxy_stub_mismatch(*iid); !mismatch.empty()) {
                text += "; " + mismatch;
            }
        }
        return text;
    }
    static constexpr const IID* interfaces[] = {&IID_ICamTovraDiscoverService, &IID_ICamTovraDeviceInfo,
                                                &IID_ICamTovraDevice, &IID_ICamTovraStreamChannel};


    std::size_t idle_cameras() { return cam_service::active_device_list_instance().load()->idle_count(); }
    // Waits (bounded) until the client's camera has gone back to the list.
    bool wait_idle()
    {
        for (int i = 0; i < 2000 && idle_cameras() == 0; ++i) {
            Sleep(5);
        }
        return idle_cameras() == 1;
    }
    // A channel whose answer COM's transport lost was made all the same (the
    // client made another): every channel made is closed once.
    void expect_every_channel_closed() const
    {
        EXPECT_GE(factory->stats()->prepare_stream_calls, 1);
        EXPECT_EQ(factory->stats()->close_stream_calls, factory->stats()->prepare_stream_calls.load());
    }
};

// cam_0 answers PROPSETID_VIDCAP_VIDEOPROCAMP id 2 through a handler: minimum
// -10, maximum 90, default 5, capabilities 3, value 42, flags 2.
class standard_set_handler final : public cam::property_req_entry_itf {
public:
    std::vector<std::vector<unsigned char>> sets; // each set record as the handler saw it

    std::error_code get_request(KsPropDataRequest& request) override
    {
        return cam::write_std_reply(request, 3, -10, 90, 5, 1, 42, 2);
    }
    std::error_code set_request(KsPropDataRequest& request) override
    {
        const auto* bytes = static_cast<const unsigned char*>(request.value);
        sets.emplace_back(bytes, bytes + request.value_size);
        return {};
    }
};

class client_process_with_handlers : public client_process {
protected:
    standard_set_handler* handler = nullptr;

    void SetUp() override
    {
        cam_0_requests = std::make_shared<fake_devices::request_registry>();
        const cam::property_req_key keys[] = {{cam::PROPSETID_VIDCAP_VIDEOPROCAMP, 2}};
        handler = static_cast<standard_set_handler*>(&cam_0_requests->add_handler(
            std::make_unique<standard_set_handler>(), keys, cam::level_override));
        client_process::SetUp();
    }
};

TEST_F(client_process_with_handlers, in_this_process_a_missing_value_buffer_is_refused_before_any_handler)
{
    auto device = create_device(GetCurrentProcessId());
    ASSERT_TRUE(device);
    GUID set = videoprocamp;
    ULONG returned = 0;
    EXPECT_EQ(device->Get(&set, 2, nullptr, 0, nullptr, 48, &returned), E_POINTER);
    EXPECT_EQ(device->Set(&set, 2, nullptr, 0, nullptr, 48), E_POINTER);
    std::lock_guard lock(cam_0_requests->request_mutex());
    EXPECT_TRUE(handler->sets.empty());
}

TEST_F(client_process_with_handlers, a_client_process_gets_the_merged_record_and_sets_value_and_flags)
{
    auto client = run_client(L"--properties");
    ASSERT_TRUE(client.process);
    const DWORD code = client.wait(0);
    ASSERT_EQ(code, 0u) << "device_client exit " << exit_text(code);
    std::lock_guard lock(cam_0_requests->request_mutex());
    ASSERT_EQ(handler->sets.size(), 1u);
    std::vector<unsigned char> expected(40, 0);
    const unsigned char value_and_flags[8] = {17, 0, 0, 0, 1, 0, 0, 0};
    std::memcpy(expected.data() + 24, value_and_flags, 8);
    EXPECT_EQ(handler->sets[0], expected);
}

TEST_F(client_process, lists_opens_carries_properties_and_streams_across_processes)
{
    auto client = run_client(L"");
    ASSERT_TRUE(client.process);
    const DWORD code = client.wait(0);
    EXPECT_EQ(code, 0u) << "device_client exit " << exit_text(code);
    EXPECT_TRUE(wait_idle());
    expect_every_channel_closed();
}

TEST_F(client_process, a_killed_client_process_has_its_objects_released_in_the_service)
{
    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_client_ready_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    auto client = run_client(ready_name, ready.get());
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "device_client exit " << exit_text(client.wait(0));
    EXPECT_EQ(idle_cameras(), 0u);
    EXPECT_EQ(factory->stats()->close_stream_calls, 0);

    TerminateProcess(client.process.get(), 9);
    EXPECT_TRUE(wait_idle());
    expect_every_channel_closed();
    EXPECT_EQ(factory->stats()->devices_alive(), 1); // idle, waiting for reuse
}

} // namespace
