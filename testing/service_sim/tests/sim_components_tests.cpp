// The service's components with the demonstration's simulated platform, in
// this process: the discover service lists the simulated camera, an unplug
// and a replug reach it through the device-change window, and stop ends it.
#include <windows.h>
#include <objbase.h>

#include "service/discover_service.h"
#include "service/service_components.h"
#include "service/service_holders.h"
#include "sim_platform.h"

#include <gtest/gtest.h>

namespace {

std::size_t listed_cameras()
{
    const auto discover = service::discover_service_instance().load();
    return discover ? discover->get_device_list().size() : 0;
}

// Waits until the discover service lists `count` cameras; false after 10 s.
bool wait_for_listed(std::size_t count)
{
    for (const ULONGLONG deadline = GetTickCount64() + 10000; GetTickCount64() < deadline; Sleep(50)) {
        if (listed_cameras() == count) {
            return true;
        }
    }
    return false;
}

TEST(service_sim_components, list_the_simulated_camera_follow_an_unplug_and_a_replug_and_stop)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    service::components::set_factory_maker(&service_sim::sim_factory_create);
    service::components::create();
    EXPECT_TRUE(wait_for_listed(1));

    const HANDLE unplug = OpenEventW(EVENT_MODIFY_STATE, FALSE, service_sim::unplug_event_name);
    const HANDLE replug = OpenEventW(EVENT_MODIFY_STATE, FALSE, service_sim::replug_event_name);
    ASSERT_NE(unplug, nullptr);
    ASSERT_NE(replug, nullptr);
    SetEvent(unplug);
    EXPECT_TRUE(wait_for_listed(0));
    SetEvent(replug);
    EXPECT_TRUE(wait_for_listed(1));
    CloseHandle(unplug);
    CloseHandle(replug);

    service::components::stop();
    EXPECT_EQ(listed_cameras(), 0u);
    service::components::set_factory_maker(nullptr);
    CoUninitialize();
}

} // namespace
