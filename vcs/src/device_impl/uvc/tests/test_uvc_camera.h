#pragma once
// A small camera over the UVC device base and the simulated camera, with the
// device-specific operations a camera class supplies kept trivial, a frame
// sink that lends buffers and checks every image it receives, and a log
// capture.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <memory_property_store.h>
#include <nox_um/tests/sim_driver_io.h>
#include <sim_payload.h>
#include <sim_uvc_requests.h>

#include "device_impl/uvc/uvc_device_base.h"

namespace uvc_test {

class test_uvc_camera final : public cam::uvc_cam::uvc_device_base {
public:
    using uvc_device_base::uvc_device_base;
    ~test_uvc_camera() override { release_stream(); }

    std::error_code init_features() override { return {}; }
    void configure_pipeline(const std::vector<cam::uvc_cam::input_format>&) override {}
    std::vector<std::uint64_t> custom_frame_intervals(const cam::stream_format_entry&) override { return {}; }
    void review_input_formats(std::vector<cam::uvc_cam::input_format>&) override {}
    bool accept_input_format(cam::uvc_cam::input_format&) override { return true; }
    std::error_code pre_start() override { return {}; }
    void process_frame(cam::frame_wrapper&, img::image_desc&) override {}

    // False: the own document is not made, so the proxy holds none.
    bool with_document = true;
    // Runs inside the frame path's handling of every returned frame; set
    // before frames move.
    std::function<void()> inside_return;

    // Counts the releases of a prepared stream.
    void after_release() override;
    // Waits until `count` releases have finished; false after `timeout`.
    bool wait_for_releases(std::size_t count, std::chrono::milliseconds timeout);

protected:
    std::string own_document_text() override
    {
        return with_document ? uvc_device_base::own_document_text() : std::string();
    }
    // The frame path asks for the flag first thing when a frame comes back.
    bool force_clear_buffers() const override
    {
        if (inside_return) {
            inside_return();
        }
        return uvc_device_base::force_clear_buffers();
    }

private:
    std::mutex releases_lock_;
    std::condition_variable released_;
    std::size_t releases_ = 0; // guarded by releases_lock_
};

// Lends its buffers to the camera and gives every delivered frame straight
// back after checking its image.
class checking_sink final : public cam::frame_server_itf {
public:
    void make_buffers(std::size_t count, std::uint64_t capacity);
    void lend_all(cam::uvc_cam::uvc_device_base& camera);
    std::vector<cam::frame_wrapper*> frames() const;
    // Drops the buffers; the camera must have released its stream.
    void clear();

    void update_frame_counts(const cam::frame_counts&) override {}
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override;
    void stream_failed() override;

    // Waits until `count` good frames arrived; false after five seconds.
    bool wait_for_frames(std::size_t count);
    // Waits until the stream was reported failed `count` times; false after
    // five seconds.
    bool wait_for_failures(std::size_t count);
    std::size_t failures() const;
    // The next delivery throws, as a sink whose lock fails does.
    std::atomic<bool> throw_on_next{false};
    std::size_t good_frames() const;
    std::size_t bad_frames() const;

    std::uint32_t width = 0;
    std::uint32_t image_size = 0;
    cam::uvc_cam::uvc_device_base* camera = nullptr;

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<cam::frame_wrapper>> buffers_;
    std::size_t good_ = 0;
    std::size_t bad_ = 0;
    std::size_t failures_ = 0;
};

struct log_capture {
    log_capture();
    ~log_capture();
    std::vector<std::string> lines_with(std::string_view text) const;
    std::vector<std::string> all() const;

    mutable std::mutex lock;
    std::vector<std::string> lines;
    std::uint32_t saved_level = 0;
};

// Passes every call to the simulated driver and records the I/O controls.
class recording_io final : public nox_um::driver_io {
public:
    explicit recording_io(nox_um::driver_io& inner) : inner_(inner) {}
    struct ioctl_record {
        DWORD code;
        std::vector<std::uint8_t> input;
    };
    std::vector<ioctl_record> ioctls(DWORD code) const;
    // While set, an endpoint pipe cannot be opened.
    std::atomic<bool> refuse_pipe_opens{false};

    HANDLE create_file(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        if (refuse_pipe_opens && path.find(L"\\pipe_") != std::wstring::npos) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return inner_.create_file(path, access, share, disposition, flags);
    }
    BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned, OVERLAPPED* overlapped) override;
    BOOL read_file(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) override
    {
        return inner_.read_file(file, buffer, size, read, overlapped);
    }
    HANDLE create_io_completion_port(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads) override
    {
        return inner_.create_io_completion_port(file, port, key, threads);
    }
    BOOL cancel_io_ex(HANDLE file, OVERLAPPED* overlapped) override { return inner_.cancel_io_ex(file, overlapped); }
    BOOL get_overlapped_result(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override
    {
        return inner_.get_overlapped_result(file, overlapped, transferred, wait);
    }
    BOOL close_handle(HANDLE handle) override { return inner_.close_handle(handle); }

private:
    nox_um::driver_io& inner_;
    mutable std::mutex lock_;
    std::vector<ioctl_record> records_;
};

// The simulated camera, its UVC responder, an in-memory store and the camera.
class camera_bench {
public:
    camera_bench();
    ~camera_bench();
    // Opens the device and makes the camera (not initialised).
    void open();

    nox_um_test::sim_driver_io io;
    recording_io recorder{io};
    std::unique_ptr<sim_camera::uvc_responder> responder;
    std::shared_ptr<fake_devices::memory_property_store> store = std::make_shared<fake_devices::memory_property_store>();
    std::shared_ptr<nox_um::usb_device_handle> device;
    checking_sink sink;
    std::unique_ptr<test_uvc_camera> camera;
};

} // namespace uvc_test
