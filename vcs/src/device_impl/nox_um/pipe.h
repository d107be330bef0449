#pragma once
// Reads image data from one IN endpoint: owns the endpoint's pipe file, an I/O
// completion port and the thread that keeps up to 32 overlapped reads in
// flight. Every queued request comes back exactly once through the completion
// callback, on the pipe's thread.

#include "driver_io.h"
#include "usb_device_handle.h"

#include <device_impl/device_impl_tools/frame_wrapper.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

namespace nox_um {

class pipe {
public:
    // Status of a request handed back through the callback.
    static constexpr std::int32_t status_read = 0;     // the read completed (bytes may be 0)
    static constexpr std::int32_t status_not_read = 2; // refused or no transaction buffer: not read
    // Any other status is the failed read's HRESULT (negative), for instance
    // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED) for a cancelled read; the
    // bytes that arrived before the failure are reported with it.
    using completion_callback = std::function<void(cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status)>;

    static constexpr unsigned transaction_buffer_count = 32;
    static constexpr DWORD wait_timeout_ms = 5000;
    // After this many reads in a row that fail when issued, new requests are
    // held and retried after `retry_backoff_ms`, or at once when a read
    // completes successfully.
    static constexpr unsigned immediate_failure_limit = 4;
    static constexpr DWORD retry_backoff_ms = 100;

    explicit pipe(io_handle file);
    ~pipe();
    pipe(const pipe&) = delete;
    pipe& operator=(const pipe&) = delete;

    void set_completion_callback(completion_callback callback) { callback_ = std::move(callback); }

    // Starts the endpoint on the driver, then the completion thread;
    // ERROR_INVALID_STATE while the thread runs.
    std::error_code start();
    // Ends the thread: every read is cancelled, nothing reaches the callback
    // after stop returns. Always succeeds.
    std::error_code stop();
    // Hands a request to the thread; ERROR_CANCELLED after stop.
    std::error_code queue_request(cam::frame_wrapper* request);

    bool running() const { return thread_.joinable(); }

private:
    struct transaction_buffer;
    void thread_main();

    std::thread thread_;
    io_handle file_;
    HANDLE port_ = nullptr; // real completion port, owned
    completion_callback callback_;
    std::atomic<bool> stop_{false};
};

// Opens the pipe file of `endpoint` next to the device: "<path>\pipe_%02x".
// Empty when the file cannot be opened.
std::shared_ptr<pipe> open_endpoint_pipe(const usb_device_handle& device, std::uint8_t endpoint);

} // namespace nox_um
