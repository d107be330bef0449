#pragma once
// The camera class over the simulated camera: the driver library over the
// simulator, its UVC and GenCP responders with the acquisition registers
// wired to the image data, a store, a file cache of its own, and a frame
// sink that records what every delivered frame's header and data say;
// optionally the vendor extension unit.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <memory_property_store.h>
#include <nox_um/tests/sim_driver_io.h>
#include <sim_acquisition.h>
#include <sim_gencp.h>
#include <sim_payload.h>
#include <sim_uvc_requests.h>
#include <sim_xu_unit.h>

#include "device_impl/cam_tovra/cam_tovra.h"

namespace tovra_test {

inline constexpr std::uint32_t vga_size = 640 * 480;
inline constexpr std::uint64_t interval = 333333;

struct bench_options {
    std::string fourcc = "Y800";
    bool gencp = true; // false: the camera answers no GenCP request
    sim_camera::description_variant description;
    // Text inserted before the description's end (features a test adds).
    std::string extra_nodes;
    std::uint32_t source_transfer = 16384; // 0: whole frames
    std::uint32_t payload_transfer = 16384;
    // The vendor extension unit with all its controls (sim_xu_unit); without
    // it the unit's requests stall.
    bool xu_unit = false;
};

// What one delivered frame carried.
struct frame_record {
    std::uint32_t buffer_id = 0;
    std::uint64_t valid_size = 0;
    std::uint64_t frame_number = 0;
    std::uint64_t offset_28 = 0;
    std::uint32_t flags = 0;
    bool image_good = false;
    std::uint64_t image_number = 0; // the frame number the image carries
    // The block id and trailers after the image (chunk-mode frames).
    std::optional<std::uint64_t> trailer_block_id;
    std::vector<std::uint8_t> processing_block; // header bytes 80-223
};

class recording_sink final : public cam::frame_server_itf {
public:
    void make_buffers(std::size_t count, std::uint64_t capacity);
    void lend_all(cam::uvc_cam::uvc_device_base& camera);
    void clear();

    void update_frame_counts(const cam::frame_counts&) override {}
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override;

    // Waits until `count` frames arrived in all; false after five seconds.
    bool wait_for_frames(std::size_t count);
    std::vector<frame_record> frames() const;
    std::size_t frame_count() const;

    std::uint32_t width = 640;
    std::uint32_t image_size = vga_size;

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    cam::uvc_cam::uvc_device_base* camera_ = nullptr;
    std::vector<std::unique_ptr<cam::frame_wrapper>> buffers_;
    std::vector<frame_record> frames_;
};

// Collects the service's log lines while it lives.
class log_capture {
public:
    log_capture();
    ~log_capture();
    std::size_t count(const std::string& part) const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    std::uint32_t saved_level_;
};

class tovra_bench {
public:
    explicit tovra_bench(bench_options options = {});
    ~tovra_bench();

    // Starts the driver, opens the device and makes the camera; false on
    // failure (reported).
    bool open();
    // open() and init_device().
    bool open_and_init();
    // Closes the camera as the service does: its handlers save their values
    // and it goes; the device stays open.
    void close();
    // After close(): a new camera over the same device and store, initialised;
    // false on failure (reported).
    bool reopen();
    // try_start with 640x480 Y800 (or the bench's FOURCC), buffers lent,
    // start_streaming; false on failure (reported).
    bool start_vga();
    void release();

    // WRITEMEM commands the camera received at `address`.
    std::size_t writes_at(std::uint64_t address) const;

    bench_options options;
    // Declared before the driver so that it outlives the simulator's thread.
    sim_camera::payload_source source;
    nox_um_test::sim_driver_io io;
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::unique_ptr<sim_camera::gencp_responder> gencp;
    std::unique_ptr<sim_camera::sim_xu_unit> xu;
    u3v_com::genicam_file_cache cache;
    // A test may put another store in before open().
    std::shared_ptr<utils::property_store_itf> store = std::make_shared<fake_devices::memory_property_store>();
    std::shared_ptr<nox_um::usb_device_handle> device;
    recording_sink sink;
    std::unique_ptr<cam::impl::cam_tovra> camera;
};

} // namespace tovra_test
