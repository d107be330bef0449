#include "pipe.h"

#include <gen_utils/log.h>
#include <gen_utils/thread_name.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <winternl.h>

#include <array>
#include <deque>
#include <vector>

namespace nox_um {
namespace {

constexpr ULONG_PTR key_stop = 1;
constexpr ULONG_PTR key_request = 2;
constexpr ULONG_PTR key_read_done = 3;
constexpr ULONG batch_size = 16;
// Longest wait for one cancelled read to come back while the thread ends.
constexpr DWORD cancel_wait_ms = 2000;

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
};

pipe::pipe(io_handle file) : file_(std::move(file))
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
    if (port_ != nullptr) {
        file_.io()->close_handle(port_);
    }
    file_.reset();
}

std::error_code pipe::start()
{
    if (port_ == nullptr) {
        return win32_error(ERROR_INVALID_HANDLE);
    }
    if (thread_.joinable()) {
        return win32_error(ERROR_INVALID_STATE); // one thread per pipe
    }
    stop_ = false;
    if (const std::error_code ec =
            usb_device_handle::control(*file_.io(), file_.get(), IOCTL_NOXKM_PIPE_START, nullptr, 0, nullptr, 0)) {
        return ec;
    }
    thread_ = std::thread([this] { thread_main(); });
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
        return win32_error(ERROR_CANCELLED);
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

    std::array<transaction_buffer, transaction_buffer_count> buffers{};
    std::vector<transaction_buffer*> free_list; // last in, first out
    free_list.reserve(buffers.size());
    for (auto& buffer : buffers) {
        free_list.push_back(&buffer);
    }
    std::deque<cam::frame_wrapper*> held; // waiting out a run of immediate failures
    unsigned immediate_failures = 0;

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
                log_line(logging::level_error, "[CamTovra] Failed to queue request ({}) in pipe due to last_err={}.\n",
                         fmt::ptr(target), error);
                transaction->request = nullptr;
                free_list.push_back(transaction);
                ++immediate_failures;
                callback_(request, 0, status_not_read);
                return;
            }
        }
        immediate_failures = 0;
    };
    auto retry_held = [&] {
        std::deque<cam::frame_wrapper*> retry;
        retry.swap(held);
        immediate_failures = 0;
        for (cam::frame_wrapper* request : retry) {
            if (immediate_failures >= immediate_failure_limit) {
                held.push_back(request); // still failing: wait for the next back-off
            } else {
                issue(request);
            }
        }
    };

    OVERLAPPED_ENTRY entries[batch_size];
    ULONG count = 0;
    ULONG handled = 0;       // entries of the last batch that were handled
    bool stop_seen = false;  // the stop packet has been taken off the port
    while (!stop_) {
        count = 0;
        handled = 0;
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
                stop_seen = true;
                break;
            case key_request: {
                auto* request = reinterpret_cast<cam::frame_wrapper*>(entry.lpOverlapped);
                if (immediate_failures >= immediate_failure_limit) {
                    held.push_back(request);
                } else {
                    issue(request);
                }
                break;
            }
            case key_read_done: {
                auto* transaction = reinterpret_cast<transaction_buffer*>(entry.lpOverlapped);
                const std::int32_t status = read_status(transaction->overlapped);
                if (transaction->request != nullptr) {
                    cam::frame_wrapper* request = std::exchange(transaction->request, nullptr);
                    callback_(request, entry.dwNumberOfBytesTransferred, status);
                } else {
                    log_line(logging::level_warning, "[CamTovra] Dequeued completion without associated header\n");
                }
                free_list.push_back(transaction);
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

    if (!io.cancel_io_ex(file_.get(), nullptr)) {
        log_line(logging::level_trace, "[CamTovra] Cancel result={}.\n", 0);
    }
    // Reads still with the driver are waited for: the buffers they target
    // belong to the caller again once stop returns. Requests that arrive now
    // are handed back unread.
    auto drain_one = [&](DWORD wait) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL dequeued = GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, wait);
        if (overlapped == nullptr) {
            stop_seen = stop_seen || (dequeued != FALSE && key == key_stop);
            return dequeued != FALSE; // a stop packet, or nothing (time-out, closed port)
        }
        if (key == key_read_done) {
            auto* transaction = reinterpret_cast<transaction_buffer*>(overlapped);
            transaction->request = nullptr;
            free_list.push_back(transaction);
        } else if (key == key_request) {
            held.push_back(reinterpret_cast<cam::frame_wrapper*>(overlapped));
        }
        return true;
    };
    // The entries that followed the stop packet in its batch are drained too.
    for (ULONG i = handled; i < count; ++i) {
        const OVERLAPPED_ENTRY& entry = entries[i];
        if (entry.lpOverlapped == nullptr) {
            continue;
        }
        if (entry.lpCompletionKey == key_read_done) {
            auto* transaction = reinterpret_cast<transaction_buffer*>(entry.lpOverlapped);
            transaction->request = nullptr;
            free_list.push_back(transaction);
        } else if (entry.lpCompletionKey == key_request) {
            held.push_back(reinterpret_cast<cam::frame_wrapper*>(entry.lpOverlapped));
        }
    }
    // The thread may have seen the stop flag before stop() posted its packet:
    // that packet is taken too, so that it cannot end the next run at once.
    while ((free_list.size() < buffers.size() || !stop_seen) && drain_one(cancel_wait_ms)) {
    }
    while (drain_one(0)) {
    }
    for (cam::frame_wrapper* request : held) {
        callback_(request, 0, status_not_read);
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
