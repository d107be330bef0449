// A rescan of the device list while a client process streams, with the
// camera factory walking a device tree of the simulated camera: the hub
// refusing one request of the walk neither removes the camera nor ends the
// stream, and nobody hears of a change; a pulled camera still goes at the next
// rescan.
#include <gtest/gtest.h>
#include <objbase.h>

#include <mutex>
#include <string>
#include <vector>

#include "device_impl/camtovra/factory.h"
#include "device_impl/device_impl_tools/device_change/device_change_notify.h"
#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"
#include "device_tree.h"
#include "gen_utils/win32_utils.h"
#include "service_host.h"
#include "sim_camera_unit.h"
#include "usb_device.h"
#include <usb_topology/hub_protocol.h>

namespace {

const test_support::client_program camtovra_client{CAMTOVRA_CLIENT_EXE, {12, 4}};

class streaming_rescan : public ::testing::Test {
protected:
    // Declared before the host, whose stop ends every device opened on it.
    sim_devices::sim_camera_unit unit{camera_options()};
    usb_device_tree::device_tree tree;
    DEVINST camera = 0;
    std::mutex lock;
    std::vector<std::uint32_t> messages; // kinds of list-changed messages, guarded by lock
    test_support::service_host host;

    static sim_devices::sim_camera_options camera_options()
    {
        sim_devices::sim_camera_options options;
        options.frames_per_second = 30;
        return options;
    }

    void SetUp() override
    {
        ASSERT_TRUE(unit.start());
        auto spec = usb_device_tree::camera_from_descriptors(
            unit.io.camera.device_descriptor_bytes, unit.io.camera.configuration_bytes, unit.io.camera.strings);
        spec.interfaces = {{cam::usb_topology::camera_interface_class, unit.io.device_path()}};
        camera = tree.add_camera(tree.root_hub(), 1, std::move(spec));

        auto platform = camtovra::factory_platform::walking(tree);
        platform.driver_io_for = [this](std::wstring_view) -> nox_um::driver_io& { return unit.io; };
        std::shared_ptr<camtovra::factory> factory(new camtovra::factory(std::move(platform)),
                                                   cam_service::ref_count_dtor{});
        ASSERT_NO_FATAL_FAILURE(host.start({factory}, PROXY_STUB_DLL));
        ASSERT_TRUE(host.wait_listed(L"SIM00001"));
        service::discover_service_instance().load()->add_list_client(L"rescan_test", [this](std::uint32_t kind,
                                                                                              const GUID&) {
            std::lock_guard guard(lock);
            messages.push_back(kind);
        });
    }

    // One rescan, started as another camera's arrival starts one; false when
    // it did not finish within 30 s.
    bool rescan()
    {
        const int done = host.refreshes();
        const auto notifier = device_change::device_change_notify::current();
        if (!notifier || notifier->window() == nullptr) {
            return false;
        }
        auto record = device_change::make_device_interface_broadcast(L"\\\\?\\USB#VID_F0CA&PID_0C01#OTHER#x",
                                                                     cam::usb_topology::camera_interface_class);
        SendMessageW(notifier->window(), WM_DEVICECHANGE, device_change::device_arrival,
                     reinterpret_cast<LPARAM>(record.data()));
        return host.wait_refreshes(done + 1);
    }

    bool listed() { return service::discover_service_instance().load()->find_device(L"SIM00001", GUID{}) != nullptr; }
    std::vector<std::uint32_t> heard()
    {
        std::lock_guard guard(lock);
        return messages;
    }
};

TEST_F(streaming_rescan, a_refused_string_request_keeps_the_camera_listed_and_streaming_and_a_pulled_one_goes)
{
    const std::wstring ready_name = win32::make_unique_global_name(L"camtovra_client_hold_");
    win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    win32::unique_handle go(CreateEventW(nullptr, TRUE, FALSE, (ready_name + L"_go").c_str()));
    auto client = host.start_client(camtovra_client, L"hold " + ready_name, ready.get(), 120000);
    ASSERT_TRUE(client.process);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 0), WAIT_OBJECT_0) << "client exit " << client.wait(0);

    ASSERT_TRUE(tree.refuse_once([](const usb_device_tree::hub_request& request) {
        return request.code == cam::usb_topology::hub_ioctl::get_descriptor_from_node_connection &&
               request.value == 0x0301; // the manufacturer string
    }));
    ASSERT_TRUE(rescan());
    EXPECT_FALSE(tree.refusal_pending()) << "the rescan read the camera's strings again";
    EXPECT_TRUE(listed());
    EXPECT_EQ(heard(), std::vector<std::uint32_t>{});
    SetEvent(go.get());
    EXPECT_EQ(client.wait(60000), 0u) << "the stream went on after the rescan";

    ASSERT_TRUE(tree.remove_device(camera));
    ASSERT_TRUE(rescan());
    EXPECT_FALSE(listed());
    EXPECT_EQ(heard(), std::vector<std::uint32_t>{cam_service::list_change_removed});
}

} // namespace
