#pragma once
// One simulated camera behind the simulated driver: its UVC answers and a
// 640x480 Y800 payload stream whose every byte a client can check.

#include <cstdint>
#include <memory>
#include <string>

#include <nox_um/tests/sim_driver_io.h>
#include <sim_payload.h>
#include <sim_uvc_requests.h>

#include "device_impl/camtovra/device.h"

namespace sim_devices {

struct sim_camera_options {
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    bool full_frame = false;             // else 16 KiB payloads
    std::uint32_t frames_per_second = 0; // 0: as fast as reads are asked for
};

class sim_camera_unit {
public:
    explicit sim_camera_unit(const sim_camera_options& options);
    // Loads the simulated driver and starts the camera; false on failure.
    bool start();

    std::uint32_t image_size() const { return options_.width * options_.height; }

    // The camera class the active device makes over the opened device.
    static camtovra::camera_maker camera_maker();

    sim_camera_options options_;
    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::payload_source> source;
    std::unique_ptr<sim_camera::uvc_responder> responder;
};

} // namespace sim_devices
