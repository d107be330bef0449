#pragma once
// Reads image data from one IN endpoint: owns the endpoint's pipe file, an I/O
// completion port and the thread that keeps up to 32 overlapped reads in
// flight. Every queued request comes back exactly once through the completion
// callback, on the pipe's thread, except a read that the driver still holds
// when stop gives up waiting for it (see stop).

#include "driver_io.h"
#include "usb_device_handle.h"

#include <device_impl/device_impl_tools/frame_wrapper.h>

#include <gen_utils/win32_utils.h>

#include <array>
#include <atomic>
#include <chrono>
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
    // The stream ended as a device error: requests the thread still held come
    // back with this status (HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)).
    static constexpr std::int32_t status_failed = static_cast<std::int32_t>(0x8007001F);
    // Called once the thread has ended because something on it threw, on
    // that thread: it must neither stop nor destroy the pipe.
    using failure_callback = std::function<void()>;

    static constexpr unsigned transaction_buffer_count = 32;
    static constexpr DWORD wait_timeout_ms = 5000;
    // After this many reads in a row that fail when issued, new requests are
    // held and retried after `retry_backoff_ms`, or at once when a read
    // completes successfully. A request that cannot be held (no memory)
    // comes back with status_not_read, and the thread takes nothing off its
    // port for `retry_backoff_ms` after that: queued again at once, the
    // request reaches the driver after the back-off, not in a tight loop.
    static constexpr unsigned immediate_failure_limit = 4;
    static constexpr DWORD retry_backoff_ms = 100;
    // How long stop waits for the reads it cancelled before it gives up.
    static constexpr std::chrono::milliseconds default_stop_wait_limit{10000};

    explicit pipe(io_handle file);
    ~pipe();
    pipe(const pipe&) = delete;
    pipe& operator=(const pipe&) = delete;

    void set_completion_callback(completion_callback callback) { callback_ = std::move(callback); }
    void set_failure_callback(failure_callback callback) { on_failure_ = std::move(callback); }

    // Starts the endpoint on the driver, then the completion thread;
    // ERROR_INVALID_STATE while the thread runs, ERROR_BUSY while a read of
    // the last run is still with the driver (see stop).
    std::error_code start();
    // Ends the thread: every read is cancelled and waited for (logged once a
    // second), nothing reaches the callback after stop returns. Always
    // succeeds. A read that the driver does not give back within the stop
    // wait limit stays with it: its request is not handed back, its buffer
    // may still be written, and the pipe keeps the read's OVERLAPPED record
    // (even past its own destruction) and refuses to start until it returned.
    std::error_code stop();
    // Hands a request to the thread; ERROR_CANCELLED after stop,
    // ERROR_GEN_FAILURE once the thread ended as a device error (until the
    // next start).
    std::error_code queue_request(cam::frame_wrapper* request);

    // Sends IOCTL_NOXKM_PIPE_SET_DEPTH on the pipe file: the transfer size and
    // how many reads the driver keeps queued. The driver's error is returned.
    std::error_code set_depth(std::uint32_t transfer_size, std::uint32_t depth);

    bool running() const { return thread_.joinable(); }
    // Reads in flight while running; once stopped, the reads the driver still
    // holds (late completions that arrived meanwhile are taken first).
    unsigned outstanding_reads();
    void set_stop_wait_limit(std::chrono::milliseconds limit) { stop_wait_limit_ = limit; }
    // The completion thread's handle (for GetThreadTimes): from start until
    // the next start or the pipe's end, also after the thread ended; null
    // before the first start.
    HANDLE thread_handle() const { return thread_handle_.get(); }

private:
    struct transaction_buffer;
    using transaction_buffers = std::array<transaction_buffer, transaction_buffer_count>;

    // The completion thread. Nothing leaves it by an exception: a throw from
    // the callback or the loop is logged and ends the stream as a device
    // error (reads cancelled and collected, held requests handed back with
    // status_failed, then the failure callback).
    void thread_main();
    // Takes every packet off the port while no thread runs: late read
    // completions free their records, stale stop packets go, requests are
    // posted again for the next run. Returns the reads still with the driver.
    unsigned collect_late_completions();
    static void log_failure(const char* what) noexcept;
    // Runs a step of the wind-down after a failure; a throw is logged.
    template <typename F>
    static void guarded(F&& step) noexcept;

    std::thread thread_;
    win32::unique_handle thread_handle_;
    io_handle file_;
    HANDLE port_ = nullptr; // real completion port, owned
    completion_callback callback_;
    failure_callback on_failure_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false}; // the last run ended as a device error
    // The reads' OVERLAPPED records: the driver writes them until each read
    // comes back, so they live as long as the pipe, or longer (see stop).
    std::unique_ptr<transaction_buffers> transactions_;
    std::atomic<unsigned> outstanding_{0}; // reads issued and not yet taken off the port
    std::chrono::milliseconds stop_wait_limit_ = default_stop_wait_limit;
};

// Opens the pipe file of `endpoint` next to the device: "<path>\pipe_%02x".
// Empty when the file cannot be opened.
std::shared_ptr<pipe> open_endpoint_pipe(const usb_device_handle& device, std::uint8_t endpoint);

} // namespace nox_um
