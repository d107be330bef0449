#include "pipe.h"

#include <gen_utils/log.h>
#include <gen_utils/thread_name.h>

#include <fmt/format.h>
#include <fmt/xchar.h>
#include <gsl/gsl>

#include <winternl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>
#include <vector>

namespace nox_um {
namespace {

constexpr ULONG_PTR key_stop = 1;
constexpr ULONG_PTR key_request = 2;
constexpr ULONG_PTR key_read_done = 3;
constexpr ULONG batch_size = 16;
// While the thread waits for cancelled reads, it says so this often.
constexpr DWORD wait_log_period_ms = 1000;

std::error_code win32_error(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

std::int32_t read_status(const OVERLAPPED& overlapped)
{
    const auto status = static_cast<NTSTATUS>(overlapped.Internal);
    if (status >= 0) {
        return pipe::status_read;
    }
    return static_cast<std::int32_t>(HRESULT_FROM_WIN32(RtlNtStatusToDosError(status)));
}

} // namespace

struct pipe::transaction_buffer {
    OVERLAPPED overlapped; // first: the port hands back its address
    cam::frame_wrapper* request;
    bool issued; // with the driver, or its completion not yet taken off the port
};

pipe::pipe(io_handle file) : file_(std::move(file)), transactions_(std::make_unique<transaction_buffers>())
{
    if (!file_.valid()) {
        log_line(logging::level_error, "nox_um::pipe::pipe, invalid pipe handle specified.\n");
    } else {
        driver_io& io = *file_.io();
        port_ = io.create_io_completion_port(INVALID_HANDLE_VALUE, nullptr, 0, 0);
        if (port_ == nullptr) {
            log_line(logging::level_error, "Could not create completion port.\n");
        } else if (io.create_io_completion_port(file_.get(), port_, key_read_done, 0) == nullptr) {
            log_line(logging::level_error, "Could not create completion port for socket, Win32-err={}\n",
                     GetLastError());
            io.close_handle(port_);
            port_ = nullptr;
        }
    }
    if (port_ == nullptr) {
        log_line(logging::level_error, "nox_um::pipe::pipe, invalid iocp handle.\n");
    }
}

pipe::~pipe()
{
    if (thread_.joinable()) {
        stop(); // a pipe must not outlive its thread
    }
    callback_ = nullptr;
    driver_io* io = file_.io();
    // Closing the file makes the driver end what it still holds; the
    // completions then wait on the port, which is still open.
    file_.reset();
    if (port_ != nullptr) {
        if (const unsigned left = collect_late_completions(); left != 0) {
            log_line(logging::level_error,
                     "[CamTovra] nox_um::pipe::~pipe, {} reads are still with the driver; their records are "
                     "kept.\n",
                     left);
            // The driver may still write these records: they must never be freed.
            static_cast<void>(transactions_.release());
        }
        io->close_handle(port_);
    }
}

unsigned pipe::collect_late_completions()
{
    std::vector<cam::frame_wrapper*> requests;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    while (GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, 0) != FALSE || overlapped != nullptr) {
        if (key == key_read_done && overlapped != nullptr) {
            auto* transaction = reinterpret_cast<transaction_buffer*>(overlapped);
            transaction->request = nullptr; // the caller has had it back since stop
            if (std::exchange(transaction->issued, false)) {
                --outstanding_;
            }
        } else if (key == key_request && overlapped != nullptr) {
            requests.push_back(reinterpret_cast<cam::frame_wrapper*>(overlapped));
        }
        overlapped = nullptr;
    }
    // A request that slipped in while the last run ended is read in the next.
    for (cam::frame_wrapper* request : requests) {
        PostQueuedCompletionStatus(port_, 0, key_request, reinterpret_cast<LPOVERLAPPED>(request));
    }
    return outstanding_;
}

unsigned pipe::outstanding_reads()
{
    if (!thread_.joinable() && port_ != nullptr) {
        return collect_late_completions();
    }
    return outstanding_;
}

std::error_code pipe::set_depth(std::uint32_t transfer_size, std::uint32_t depth)
{
    const noxkm::pipe_depth record{transfer_size, depth};
    return usb_device_handle::control(*file_.io(), file_.get(), IOCTL_NOXKM_PIPE_SET_DEPTH, &record, sizeof record,
                                      nullptr, 0);
}

std::error_code pipe::start()
{
    if (port_ == nullptr) {
        return win32_error(ERROR_INVALID_HANDLE);
    }
    if (thread_.joinable()) {
        return win32_error(ERROR_INVALID_STATE); // one thread per pipe
    }
    // A read of the last run still with the driver would write a record the
    // new run hands out again, and its completion would be taken for a new one.
    if (const unsigned left = collect_late_completions(); left != 0) {
        log_line(logging::level_error,
                 "[CamTovra] nox_um::pipe::start, {} reads of the last run are still with the driver.\n", left);
        return win32_error(ERROR_BUSY);
    }
    stop_ = false;
    failed_ = false;
    if (const std::error_code ec =
            usb_device_handle::control(*file_.io(), file_.get(), IOCTL_NOXKM_PIPE_START, nullptr, 0, nullptr, 0)) {
        return ec;
    }
    thread_ = std::thread([this] {
        try {
            thread_main();
        } catch (...) {
            // Even the wind-down failed: the stream is over all the same.
            failed_ = true;
            stop_ = true;
            log_failure("the wind-down failed too");
        }
    });
    HANDLE handle = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), pthread_gethandle(thread_.native_handle()), GetCurrentProcess(), &handle,
                        0, FALSE, DUPLICATE_SAME_ACCESS)) {
        thread_handle_.reset(handle);
    } else {
        thread_handle_.reset();
    }
    log_line(logging::level_trace, "[CamTovra] nox_um::pipe::start, successfully started the pipe.\n");
    return {};
}

std::error_code pipe::stop()
{
    if (!thread_.joinable()) {
        return {};
    }
    stop_ = true;
    usb_device_handle::control(*file_.io(), file_.get(), IOCTL_NOXKM_PIPE_STOP, nullptr, 0, nullptr, 0);
    PostQueuedCompletionStatus(port_, 0, key_stop, nullptr);
    thread_.join();
    log_line(logging::level_trace, "[CamTovra] nox_um::pipe::stop, successfully stopped the pipe.\n");
    return {};
}

std::error_code pipe::queue_request(cam::frame_wrapper* request)
{
    if (stop_) {
        return win32_error(failed_ ? ERROR_GEN_FAILURE : ERROR_CANCELLED);
    }
    if (port_ == nullptr ||
        !PostQueuedCompletionStatus(port_, 0, key_request, reinterpret_cast<LPOVERLAPPED>(request))) {
        const DWORD error = port_ == nullptr ? ERROR_INVALID_HANDLE : GetLastError();
        log_line(logging::level_error, "[CamTovra] Failed to queue data={}, last_err={}.\n",
                 fmt::ptr(request), error);
        return win32_error(error);
    }
    return {};
}

void pipe::thread_main()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    utils::set_thread_description("nox_um::pipe::thread_main");
    driver_io& io = *file_.io();

    // Every record is free: start refuses while the driver still holds one.
    std::vector<transaction_buffer*> free_list; // last in, first out
    free_list.reserve(transactions_->size());
    for (auto& buffer : *transactions_) {
        free_list.push_back(&buffer);
    }
    std::vector<cam::frame_wrapper*> held; // waiting out a run of immediate failures, oldest first
    unsigned immediate_failures = 0;
    bool gave_back_unheld = false; // since the loop last took the port
    // Holding a request must never lose it: when the list cannot grow, the
    // request goes back at once with `status`, as one that was not read, and
    // the loop waits out a back-off before it takes the port again.
    auto hold = [&](cam::frame_wrapper* request, std::int32_t status) {
        try {
            held.push_back(request);
            return;
        } catch (const std::bad_alloc&) {
            try {
                log_line(logging::level_error,
                         "[CamTovra] nox_um::pipe::thread_main, no memory to hold a request: it goes back unread.\n");
            } catch (...) {
                // Logging needs memory too: the request goes back all the same.
            }
        }
        gave_back_unheld = true;
        callback_(request, 0, status);
    };

    auto issue = [&](cam::frame_wrapper* request) {
        if (free_list.empty()) {
            log_line(logging::level_trace, "Cancel frame due to no transaction_buffers available\n");
            callback_(request, 0, status_not_read);
            return;
        }
        transaction_buffer* transaction = free_list.back();
        free_list.pop_back();
        transaction->request = request;
        transaction->overlapped = {};
        std::uint8_t* target =
            request->buffer == nullptr ? nullptr : request->buffer + request->header_size + request->offset;
        if (!io.read_file(file_.get(), target, static_cast<DWORD>(request->capacity), nullptr,
                          &transaction->overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                // The record and the request go back before anything that
                // can throw, so that neither is lost.
                transaction->request = nullptr;
                free_list.push_back(transaction);
                ++immediate_failures;
                callback_(request, 0, status_not_read);
                log_line(logging::level_error, "[CamTovra] Failed to queue request ({}) in pipe due to last_err={}.\n",
                         fmt::ptr(target), error);
                return;
            }
        }
        transaction->issued = true;
        ++outstanding_;
        immediate_failures = 0;
    };
    // A read came off the port: its record is free again.
    auto release = [&](transaction_buffer* transaction) {
        transaction->request = nullptr;
        if (std::exchange(transaction->issued, false)) {
            --outstanding_;
            free_list.push_back(transaction);
        }
    };
    // Retries in place, without allocating: the requests still failing move
    // to the front, in order. What a throw leaves untried stays held, so that
    // it is handed back.
    auto retry_held = [&] {
        immediate_failures = 0;
        std::size_t kept = 0;
        std::size_t next = 0;
        const auto drop_tried = gsl::finally([&] {
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(kept),
                       held.begin() + static_cast<std::ptrdiff_t>(next));
        });
        while (next < held.size()) {
            cam::frame_wrapper* request = held[next++];
            if (immediate_failures >= immediate_failure_limit) {
                held[kept++] = request; // still failing: wait for the next back-off
            } else {
                issue(request);
            }
        }
    };

    OVERLAPPED_ENTRY entries[batch_size];
    ULONG count = 0;
    ULONG handled = 0; // entries of the last batch that were handled
    bool failed = false;
    try {
        while (!stop_) {
            count = 0;
            handled = 0;
            if (std::exchange(gave_back_unheld, false)) {
                // Its caller may have queued it again at once: taking the
                // port now would only hand it back again, at this thread's
                // priority, for as long as memory stays short. The thread
                // waits out the back-off first (a stop is seen after it),
                // then tries the driver again.
                Sleep(retry_backoff_ms);
                if (!stop_) {
                    retry_held();
                }
                continue;
            }
            const DWORD timeout = held.empty() ? wait_timeout_ms : retry_backoff_ms;
            if (!GetQueuedCompletionStatusEx(port_, entries, batch_size, &count, timeout, FALSE)) {
                if (GetLastError() == ERROR_ABANDONED_WAIT_0) {
                    log_line(logging::level_error,
                             "[CamTovra] nox_um::pipe::thread_main, IO completion port closed (error) .\n");
                    break;
                }
                if (!held.empty() && !stop_) {
                    retry_held();
                }
                continue;
            }
            for (; handled < count && !stop_; ++handled) {
                const OVERLAPPED_ENTRY& entry = entries[handled];
                switch (entry.lpCompletionKey) {
                case key_stop:
                    stop_ = true;
                    break;
                case key_request: {
                    auto* request = reinterpret_cast<cam::frame_wrapper*>(entry.lpOverlapped);
                    if (immediate_failures >= immediate_failure_limit) {
                        hold(request, status_not_read);
                    } else {
                        issue(request);
                    }
                    break;
                }
                case key_read_done: {
                    auto* transaction = reinterpret_cast<transaction_buffer*>(entry.lpOverlapped);
                    const std::int32_t status = read_status(transaction->overlapped);
                    cam::frame_wrapper* request = transaction->request;
                    release(transaction);
                    if (request != nullptr) {
                        callback_(request, entry.dwNumberOfBytesTransferred, status);
                    } else {
                        log_line(logging::level_warning, "[CamTovra] Dequeued completion without associated header\n");
                    }
                    if (status == status_read && !held.empty()) {
                        retry_held(); // the device answers again: no need to wait out the back-off
                    }
                    break;
                }
                default:
                    log_line(logging::level_error, "[CamTovra] Invalid lpOverlapped parameter (== nullptr).\n");
                    break;
                }
            }
        }
    } catch (const std::exception& e) {
        failed = true;
        log_failure(e.what());
    } catch (...) {
        failed = true;
        log_failure("an exception of unknown type");
    }
    if (failed) {
        // The entry being handled went to the callback, the driver or the
        // held list: only the entries after it are collected below.
        ++handled;
        failed_ = true;
        stop_ = true; // queue_request refuses from now on
    }
    const std::int32_t held_status = failed ? status_failed : status_not_read;

    if (!io.cancel_io_ex(file_.get(), nullptr)) {
        log_line(logging::level_trace, "[CamTovra] Cancel result={}.\n", 0);
    }
    // The entries that followed the stop packet in its batch. Cancelled and
    // finished reads give their records back without reaching the callback:
    // once stop returns, every request belongs to the caller again.
    auto take = [&](ULONG_PTR key, OVERLAPPED* overlapped) {
        if (overlapped == nullptr) {
            return; // a stop packet
        }
        if (key == key_read_done) {
            release(reinterpret_cast<transaction_buffer*>(overlapped));
        } else if (key == key_request) {
            guarded([&] { hold(reinterpret_cast<cam::frame_wrapper*>(overlapped), held_status); });
        }
    };
    for (ULONG i = handled; i < count; ++i) {
        take(entries[i].lpCompletionKey, entries[i].lpOverlapped);
    }
    // One packet off the port within `wait` ms; false on a time-out.
    bool port_gone = false;
    auto take_one = [&](DWORD wait) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        if (GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, wait) == FALSE && overlapped == nullptr) {
            port_gone = GetLastError() == ERROR_ABANDONED_WAIT_0;
            return false;
        }
        take(key, overlapped);
        return true;
    };
    // Every read the driver still holds is waited for: it writes its record
    // and the caller's buffer until it comes back. The wait is bounded so that
    // a driver that never gives a read back cannot hang stop; such a read
    // keeps its record (see stop).
    const auto limit = stop_wait_limit_;
    const auto started = std::chrono::steady_clock::now();
    auto next_log = started + std::chrono::milliseconds(wait_log_period_ms);
    while (outstanding_ != 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= started + limit) {
            log_line(logging::level_error,
                     "[CamTovra] nox_um::pipe::stop, gave up after {} ms: {} reads are still with the driver; "
                     "the pipe keeps their records and does not start until they returned.\n",
                     limit.count(), outstanding_.load());
            break;
        }
        if (now >= next_log) {
            log_line(logging::level_warning, "[CamTovra] nox_um::pipe::stop, waiting for {} reads the driver still "
                     "holds.\n", outstanding_.load());
            next_log += std::chrono::milliseconds(wait_log_period_ms);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::min(next_log, started + limit) - now);
        if (!take_one(static_cast<DWORD>(wait.count())) && port_gone) {
            break;
        }
    }
    while (take_one(0)) {
    }
    // Requests that arrived meanwhile are handed back unread; a stop packet
    // still to come is taken by the next start.
    for (cam::frame_wrapper* request : held) {
        guarded([&] { callback_(request, 0, held_status); });
    }
    if (failed && on_failure_) {
        guarded([&] { on_failure_(); });
    }
}

void pipe::log_failure(const char* what) noexcept
{
    try {
        log_line(logging::level_error,
                 "[CamTovra] nox_um::pipe::thread_main, the stream ends as a device error: {}.\n", what);
    } catch (...) {
        // Logging itself failed: nothing else to tell.
    }
}

template <typename F>
void pipe::guarded(F&& step) noexcept
{
    try {
        step();
    } catch (const std::exception& e) {
        log_failure(e.what());
    } catch (...) {
        log_failure("an exception of unknown type");
    }
}

std::shared_ptr<pipe> open_endpoint_pipe(const usb_device_handle& device, std::uint8_t endpoint)
{
    const std::wstring path = device.path() + fmt::format(L"\\pipe_{:02x}", endpoint);
    auto file = usb_device_handle::open(path, device.io());
    if (!file) {
        return {};
    }
    return std::make_shared<pipe>(std::move(file).value());
}

} // namespace nox_um
