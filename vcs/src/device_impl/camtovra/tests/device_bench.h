#pragma once
// The active camera device over the simulated camera in this process, and a
// reader that takes its frames the way a client process does: semaphore and
// mappings opened by name, frames taken and given back through the device.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <frame_accounting.h>
#include <memory_property_store.h>
#include <sim_camera_unit.h>

#include "device_impl/camtovra/device.h"
#include "gen_utils/win32_utils.h"

namespace camtovra_test {

inline constexpr std::uint32_t vga_width = 640;
inline constexpr std::uint32_t vga_height = 480;
inline constexpr std::uint32_t vga_size = vga_width * vga_height;
inline constexpr std::uint64_t vga_interval = 333333;

struct device_ptr_deleter {
    void operator()(camtovra::device* d) const noexcept
    {
        if (d != nullptr) {
            d->release();
        }
    }
};
using device_ptr = std::unique_ptr<camtovra::device, device_ptr_deleter>;

// The simulated camera with its 640x480 Y800 stream and an in-memory store.
// full_frame picks how the stream is committed.
class device_bench {
public:
    explicit device_bench(bool full_frame = false, std::uint32_t frames_per_second = 0, bool acquisition_stop = true);
    static sim_devices::sim_camera_options options(bool full_frame, std::uint32_t frames_per_second,
                                                   bool acquisition_stop);
    ~device_bench();

    // Starts the simulated driver and opens the device (throws as the device does).
    void open();
    static constexpr std::uint32_t no_format = 0xFFFFFFFF;
    // The id of the 640x480 Y800 format (no_format without one), and a
    // request for it.
    std::uint32_t format_id() const;
    DShowDeviceServer_StreamFormat vga_request() const;

    sim_devices::sim_camera_unit unit;
    nox_um_test::sim_driver_io& io = unit.io;
    std::unique_ptr<sim_camera::uvc_responder>& responder = unit.responder;
    std::shared_ptr<fake_devices::memory_property_store> store = std::make_shared<fake_devices::memory_property_store>();
    GUID id{};
    device_ptr device;
};

// Takes frames as the client does and checks every header field and image byte.
class channel_reader {
public:
    // `first_frame`: the number of the simulated camera's first frame in this
    // channel, when known (see frame_accounting).
    explicit channel_reader(camtovra::device& device, std::optional<std::uint64_t> first_frame = 0)
        : device_(device), accounting_(first_frame)
    {
    }

    // Opens the semaphore and the four mappings by the names the device gives.
    ::testing::AssertionResult open();
    // Waits for, takes, checks and gives back `count` frames.
    ::testing::AssertionResult take(int count);
    // Takes frames without giving them back until it holds four different
    // buffers, then gives all back: every buffer is still in circulation.
    // The frame path starves meanwhile: take no frames after it.
    ::testing::AssertionResult take_all_buffers();
    // The end of the stream: the drops counted at the last take or after it,
    // which no later take checks, against the frames `camera` began.
    ::testing::AssertionResult finish(const sim_camera::payload_source& camera) const;

    std::uint64_t frames = 0;
    std::uint64_t last_number = 0;  // the camera's frame number
    std::uint64_t last_carried = 0; // the simulated camera's, carried in the image
    bool new_run = false;           // set after a start: the next frame taken opens the camera's new numbering
    // The stream was paused and started `times` times since the last frame
    // taken: new_run, and the accounting allows for what each stop lost.
    void restarted(int times)
    {
        new_run = true;
        restarts_ += times;
    }
    std::uint64_t last_block_id = 0;
    bool expect_chunk = true;       // the simulated camera's description has ChunkModeActive
    DShowDeviceServer_FrameCountInfo counts{};
    std::map<std::uint64_t, int> ids_seen; // buffer id -> times taken

private:
    ::testing::AssertionResult take_one(std::uint64_t& id);
    ::testing::AssertionResult check(std::uint64_t id);

    camtovra::device& device_;
    sim_camera::frame_accounting accounting_;
    int restarts_ = 0; // told through restarted, not yet to the accounting
    win32::unique_handle semaphore_;
    std::vector<win32::unique_handle> mappings_;
    std::map<std::uint64_t, const std::uint8_t*> views_;
    std::vector<std::shared_ptr<void>> unmap_;
};

} // namespace camtovra_test
