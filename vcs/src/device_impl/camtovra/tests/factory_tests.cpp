// The camera factory as the discover service uses it: listing the cameras of
// a device tree, handing out records, following device-interface broadcasts,
// and opening a camera with its store chain.
#include "device_impl/camtovra/factory.h"

#include "device_impl/camtovra/device.h"
#include "device_impl/device_impl_tools/device_change/device_change_notify.h"
#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"
#include "gen_utils/registry.h"
#include "sim_camera_unit.h"
#include "device_tree.h"
#include "usb_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

using cam_service::device_info_base;

cam::usb_topology::camera_entry entry(const wchar_t* serial)
{
    cam::usb_topology::camera_entry camera;
    camera.device_path = std::wstring(L"\\\\?\\usb#vid_f0ca&pid_0c01#") + serial;
    camera.product = L"CamTovra Sim";
    camera.serial_number = serial;
    return camera;
}

std::shared_ptr<const camtovra::factory_platform> two_cameras()
{
    auto platform = camtovra::factory_platform::win32();
    platform.list_cameras = [] { return std::vector{entry(L"SIM00001"), entry(L"SIM00002")}; };
    return std::make_shared<const camtovra::factory_platform>(std::move(platform));
}

struct released {
    device_info_base* record = nullptr;
    ~released()
    {
        if (record != nullptr) {
            record->release();
        }
    }
};

TEST(camera_factory, hands_out_records_only_when_all_fit_and_keeps_none_it_did_not_hand_out)
{
    const auto platform = two_cameras();
    camtovra::factory factory(platform);

    device_info_base* records[2] = {};
    std::uint32_t count = 0;
    EXPECT_EQ(factory.enumerate_devices(records, 0, &count), cam_service::enumerate_more_data);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(records[0], nullptr);
    EXPECT_EQ(factory.enumerate_devices(records, 1, &count), cam_service::enumerate_more_data);
    // Records that were not handed out are gone again: only the factory and
    // the test hold the platform.
    EXPECT_EQ(platform.use_count(), 2);

    EXPECT_EQ(factory.enumerate_devices(records, 2, nullptr), E_POINTER);
    EXPECT_EQ(factory.enumerate_devices(nullptr, 2, &count), E_POINTER);
    EXPECT_EQ(platform.use_count(), 2);

    ASSERT_EQ(factory.enumerate_devices(records, 2, &count), S_OK);
    ASSERT_EQ(count, 2u);
    released first{records[0]}, second{records[1]};
    EXPECT_STREQ(first.record->serial_number(), L"SIM00001");
    EXPECT_STREQ(second.record->serial_number(), L"SIM00002");
    EXPECT_STREQ(first.record->product_name(), L"CamTovra Sim");
    EXPECT_EQ(first.record->property_store(), nullptr);
    EXPECT_EQ(platform.use_count(), 4);
}

TEST(camera_factory, an_empty_system_gives_no_record_and_success)
{
    auto platform = camtovra::factory_platform::win32();
    platform.list_cameras = [] { return std::vector<cam::usb_topology::camera_entry>{}; };
    camtovra::factory factory(std::move(platform));
    std::uint32_t count = 7;
    device_info_base* record = nullptr;
    EXPECT_EQ(factory.enumerate_devices(&record, 0, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

struct change_counter {
    std::atomic<int> calls{0};
    static void callback(void* context) { ++static_cast<change_counter*>(context)->calls; }
};

void broadcast(WPARAM event, std::wstring_view name, const GUID& interface_class)
{
    const auto notifier = device_change::device_change_notify::current();
    ASSERT_NE(notifier, nullptr);
    ASSERT_NE(notifier->window(), nullptr);
    auto record = device_change::make_device_interface_broadcast(name, interface_class);
    // SendMessage returns once the window thread has called every subscriber.
    SendMessageW(notifier->window(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()));
}

TEST(camera_factory, calls_back_once_per_camera_arrival_or_removal_and_for_nothing_else)
{
    camtovra::factory factory(two_cameras());
    change_counter counter;
    factory.start_device_change_notification(&counter, &change_counter::callback);
    // A second start replaces the first subscription instead of adding one.
    factory.start_device_change_notification(&counter, &change_counter::callback);

    broadcast(device_change::device_arrival, L"\\\\?\\usb#camera", cam::usb_topology::camera_interface_class);
    EXPECT_EQ(counter.calls, 1);
    broadcast(device_change::device_remove_complete, L"\\\\?\\usb#camera", cam::usb_topology::camera_interface_class);
    EXPECT_EQ(counter.calls, 2);
    constexpr GUID hub_class = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
    broadcast(device_change::device_arrival, L"\\\\?\\usb#hub", hub_class);
    EXPECT_EQ(counter.calls, 2);

    factory.stop_device_change_notification();
    EXPECT_EQ(device_change::device_change_notify::current(), nullptr);
}

// A throw-away "devices" key below HKLM, removed again afterwards.
class store_chain : public ::testing::Test {
protected:
    const std::wstring devices_path =
        L"Software\\Corvane\\CamTovraService\\test_devices_" + std::to_wstring(GetCurrentProcessId());

    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, devices_path.c_str()); }

    utils::unique_hkey create(const std::wstring& path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        return utils::unique_hkey(key);
    }
    static void set_qword(HKEY key, const wchar_t* name, std::uint64_t value)
    {
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    static bool has_value(HKEY key, const wchar_t* name, DWORD* type = nullptr)
    {
        return RegQueryValueExW(key, name, nullptr, type, nullptr, nullptr) == ERROR_SUCCESS;
    }
};

TEST_F(store_chain, reads_the_service_defaults_first_and_writes_only_into_the_cameras_properties)
{
    const auto defaults = create(devices_path + L"\\_service_defaults");
    const auto camera = create(devices_path + L"\\SIM00001");
    const auto properties = create(devices_path + L"\\SIM00001\\properties");
    set_qword(defaults.get(), L"Gain", 5);
    set_qword(properties.get(), L"Gain", 9);
    set_qword(properties.get(), L"Hue", 3);

    const auto store = camtovra::make_property_store(devices_path, camera.get());
    std::int64_t value = 0;
    ASSERT_TRUE(store->read_int(L"Gain", value));
    EXPECT_EQ(value, 5);
    ASSERT_TRUE(store->read_int(L"Hue", value));
    EXPECT_EQ(value, 3);

    ASSERT_TRUE(store->write_int(L"Brightness", 12));
    DWORD type = 0;
    EXPECT_TRUE(has_value(properties.get(), L"Brightness", &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    EXPECT_FALSE(has_value(defaults.get(), L"Brightness"));

    // Without the camera's key the defaults still answer, and nothing takes a write.
    const auto without_key = camtovra::make_property_store(devices_path, nullptr);
    ASSERT_TRUE(without_key->read_int(L"Gain", value));
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(without_key->write_int(L"Contrast", 1));
    EXPECT_FALSE(has_value(defaults.get(), L"Contrast"));
}

TEST_F(store_chain, missing_keys_leave_an_empty_store)
{
    const auto store = camtovra::make_property_store(devices_path + L"\\absent", nullptr);
    std::int64_t value = 0;
    EXPECT_FALSE(store->read_int(L"Gain", value));
    EXPECT_FALSE(store->write_int(L"Gain", 1));
}

TEST(camera_factory, lists_the_simulated_camera_from_the_device_tree_and_opens_it_through_its_record)
{
    sim_devices::sim_camera_unit unit({});
    ASSERT_TRUE(unit.start());
    usb_device_tree::device_tree tree;
    auto camera = usb_device_tree::camera_from_descriptors(unit.io.camera.device_descriptor_bytes,
                                                           unit.io.camera.configuration_bytes, unit.io.camera.strings);
    camera.interfaces = {{cam::usb_topology::camera_interface_class, unit.io.device_path()}};
    tree.add_camera(tree.root_hub(), 1, std::move(camera));

    camtovra::factory_platform platform;
    platform.list_cameras = [&tree] { return cam::usb_topology::find_device(tree); };
    platform.driver_io_for = [&unit](std::wstring_view) -> nox_um::driver_io& { return unit.io; };
    camtovra::factory factory(std::move(platform));

    device_info_base* record = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(factory.enumerate_devices(&record, 1, &count), S_OK);
    ASSERT_EQ(count, 1u);
    released owned{record};
    EXPECT_STREQ(record->serial_number(), L"SIM00001");
    EXPECT_STREQ(record->product_name(), L"CamTovra Sim");

    constexpr GUID device_id = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    cam_service::active_device_base* device = record->create_device(device_id, nullptr);
    ASSERT_NE(device, nullptr);
    std::uint32_t formats = 0;
    EXPECT_EQ(device->get_stream_format_desc(0, nullptr, &formats), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GE(formats, 1u);
    device->release();
}

} // namespace
