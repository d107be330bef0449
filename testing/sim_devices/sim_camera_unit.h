#pragma once
// One simulated camera behind the simulated driver as the camera class sees
// it: UVC answers, a GenCP register port serving its GenICam description,
// acquisition and chunk registers wired to a payload stream whose every image
// byte a client can check.

#include <cstdint>
#include <memory>
#include <string>

#include <nox_um/tests/sim_driver_io.h>
#include <sim_acquisition.h>
#include <sim_gencp.h>
#include <sim_payload.h>
#include <sim_uvc_requests.h>

namespace sim_devices {

struct sim_camera_options {
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    bool full_frame = false;             // else 16 KiB payloads
    std::uint32_t frames_per_second = 0; // 0: as fast as reads are asked for
    // True: the camera sends from the start, not only once AcquisitionStart
    // was written (for a reader that is no camera class).
    bool acquiring = false;
    // True: the camera keeps every control transfer and GenCP command it
    // receives, for tests that count them (writes_at). Off, a camera serving
    // a service for hours would grow with every request of every client.
    bool record_requests = false;
    sim_camera::description_variant description;
};

class sim_camera_unit {
public:
    explicit sim_camera_unit(const sim_camera_options& options);
    // Loads the simulated driver and starts the camera; false on failure.
    bool start();

    std::uint32_t image_size() const { return options_.width * options_.height; }
    // GenCP writes the camera received at `address` (with record_requests).
    std::size_t writes_at(std::uint64_t address) const;

    sim_camera_options options_;
    // Declared before the driver so that it outlives the simulator's thread.
    std::unique_ptr<sim_camera::payload_source> source;
    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::unique_ptr<sim_camera::gencp_responder> gencp;
};

} // namespace sim_devices
