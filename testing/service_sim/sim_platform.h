#pragma once
// The simulated platform of the demonstration service: one simulated camera
// behind the simulated driver in this process, listed by a test device tree
// under a root hub, in place of the system's device lists and the driver's
// device files. The camera can leave and come back at run time, as a real
// camera is unplugged and plugged in again: the tree changes and the process's
// device-change window receives the broadcast the system would send.
//
// Two named events drive that from outside the process: setting
// `unplug_event_name` unplugs the camera, setting `replug_event_name` plugs a
// new one in.

#include <windows.h>

#include <memory>
#include <mutex>
#include <thread>

#include "device_impl/camtovra/factory.h"
#include "device_tree.h"
#include "sim_camera_unit.h"
#include "sim_plug_events.h"

namespace service_sim {

class sim_platform {
public:
    // Plugs in the first camera and starts watching the two events. Throws
    // std::runtime_error when the camera or the events cannot be had.
    sim_platform();
    ~sim_platform();
    sim_platform(const sim_platform&) = delete;
    sim_platform& operator=(const sim_platform&) = delete;

    // What the camera factory asks of the system, answered by this platform.
    camtovra::factory_platform factory_platform();

    // The camera leaves the bus; false when none is plugged in.
    bool unplug();
    // A new camera arrives once every file of the unplugged one is closed
    // (waits up to ten seconds for that); false when it could not.
    bool replug();

private:
    bool plug_in();
    nox_um::driver_io& driver_io_for(std::wstring_view path);
    static void announce(WPARAM event, const std::wstring& path);
    void watch();

    std::mutex mutex_;
    usb_device_tree::device_tree tree_;
    std::shared_ptr<sim_devices::sim_camera_unit> camera_;    // plugged in, or null
    std::shared_ptr<sim_devices::sim_camera_unit> unplugged_; // kept until its files are closed
    DEVINST camera_node_ = 0;
    HANDLE events_[3] = {}; // unplug, replug, stop
    std::thread watcher_;
};

// The factory maker of the demonstration service: the camera factory over the
// process's one simulated platform, made on first use.
cam_service::device_factory_base* sim_factory_create();

} // namespace service_sim
