// The shipped Win32 side on this machine: no camera driver, so the system
// lists no camera interface, and nothing fails on the way.

#include <usb_topology/hub_protocol.h>
#include <usb_topology/usb_topology.h>

#include <gtest/gtest.h>

namespace {

using namespace cam::usb_topology;

TEST(win32_topology_platform, lists_no_camera_where_no_driver_registered_one)
{
    EXPECT_TRUE(find_device().empty());
    camera_entry kept;
    kept.instance_id = L"kept";
    std::vector<camera_entry> list{kept};
    enumerate_interfaces(camera_interface_class, list);
    ASSERT_EQ(list.size(), 1u); // appends, never clears
    EXPECT_EQ(list[0].instance_id, L"kept");
}

TEST(win32_topology_platform, a_hub_that_is_not_there_cannot_be_opened)
{
    topology_platform& platform = win32_topology_platform();
    const HANDLE hub = platform.create_file(L"\\\\.\\USB#ROOT_HUB30#missing#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
                                            GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_EQ(hub, INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), 0u);
}

} // namespace
