#pragma once
// A device factory over one simulated camera at a time, whose record opens the
// real active camera device (camtovra::device) over the simulated driver in
// this process. Tests unplug the camera (the driver sees a surprise removal
// and the factory reports the change) and plug in a new one once every
// device of the old one is gone. The simulated driver keeps process-wide
// state, so at most one camera is plugged in at a time.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "sim_camera_unit.h"

namespace sim_devices {

struct factory_stats {
    std::atomic<int> devices_created{0};
    std::atomic<int> devices_alive{0};
    std::mutex lock;
    std::condition_variable changed;

    // True once no device of the factory is alive; false after `timeout`.
    bool wait_all_released(std::chrono::milliseconds timeout);
};

class sim_device_factory final : public cam_service::device_factory_base {
public:
    static std::shared_ptr<sim_device_factory> make(sim_camera_options options);

    void start_device_change_notification(void* context, cam_service::device_change_callback callback) override;
    void stop_device_change_notification() override;
    HRESULT enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                              std::uint32_t* count) override;

    // The camera leaves the bus; the factory then reports the change.
    void unplug();
    // A new camera with a new serial number arrives; only once every device
    // of the former one was released (false otherwise). Reports the change.
    bool plug_in_new();

    // The serial number (unique key) of the camera plugged in now.
    std::wstring serial_number() const;
    std::shared_ptr<sim_camera_unit> unit() const;
    factory_stats& stats() noexcept { return *stats_; }

private:
    explicit sim_device_factory(sim_camera_options options);
    void report_change();

    sim_camera_options options_;
    std::shared_ptr<factory_stats> stats_ = std::make_shared<factory_stats>();
    mutable std::mutex lock_;
    std::shared_ptr<sim_camera_unit> unit_; // null while unplugged
    int generation_ = 0;
    void* context_ = nullptr;
    cam_service::device_change_callback callback_ = nullptr;
};

} // namespace sim_devices
