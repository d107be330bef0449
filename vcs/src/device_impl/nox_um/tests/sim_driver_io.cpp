#include "sim_driver_io.h"

#include <device.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <set>

// The kernel-side headers of this test program stand in for winternl.h.
extern "C" ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status);

namespace nox_um_test {
namespace {

constexpr wchar_t hardware_key[] =
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\VID_F0CA&PID_0C01\\SIM00001\\Device Parameters";

std::wstring fold(std::wstring text)
{
    for (auto& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

HANDLE without_low_bit(HANDLE event)
{
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) & ~ULONG_PTR{1});
}

} // namespace

struct sim_driver_io::sim_file {
    WDFFILEOBJECT file = nullptr;
    kmdf::host* host = nullptr;
    std::mutex lock;
    HANDLE port = nullptr;
    ULONG_PTR key = 0;
    std::map<OVERLAPPED*, std::uint64_t> pending; // overlapped record -> request ticket
};

sim_driver_io::sim_driver_io()
    : host(&DriverEntry),
      path_(L"\\\\?\\usb#vid_f0ca&pid_0c01#sim00001#{e3f11b63-2570-4329-aad9-ee7eba255f20}")
{
    kmdf::registry::clear();
    kmdf::clear_violations();
}

sim_driver_io::~sim_driver_io()
{
    std::map<HANDLE, std::unique_ptr<sim_file>> left;
    {
        std::lock_guard guard(lock_);
        left.swap(files_);
    }
    for (auto& [handle, file] : left) {
        host.close(file->file);
        give_back(file.get());
    }
}

std::size_t sim_driver_io::give_back_kept_reads()
{
    return give_back(nullptr);
}

bool sim_driver_io::wait_for_kept_reads(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock guard(kept_lock_);
    return kept_changed_.wait_for(guard, timeout, [&] { return kept_.size() >= count; });
}

std::size_t sim_driver_io::kept_reads() const
{
    std::lock_guard guard(kept_lock_);
    return kept_.size();
}

std::size_t sim_driver_io::give_back(const sim_file* file)
{
    std::vector<kept_read> now;
    {
        std::lock_guard guard(kept_lock_);
        const auto split = std::stable_partition(kept_.begin(), kept_.end(),
                                                 [&](const kept_read& k) { return file != nullptr && k.file != file; });
        now.assign(split, kept_.end());
        kept_.erase(split, kept_.end());
    }
    for (const kept_read& k : now) {
        finish(k.file, k.overlapped, k.status, k.information);
    }
    return now.size();
}

NTSTATUS sim_driver_io::start()
{
    NTSTATUS status = host.load();
    if (NT_SUCCESS(status)) {
        status = host.add_device(camera.pdo(), hardware_key, &device);
    }
    return status;
}

void sim_driver_io::remove_device()
{
    camera.remove();
    host.surprise_remove(device);
}

std::size_t sim_driver_io::open_files() const
{
    std::lock_guard guard(lock_);
    return files_.size();
}

sim_driver_io::sim_file* sim_driver_io::find(HANDLE handle) const
{
    std::lock_guard guard(lock_);
    const auto found = files_.find(handle);
    return found == files_.end() ? nullptr : found->second.get();
}

HANDLE sim_driver_io::create_file(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    const std::wstring folded = fold(path);
    if (device == nullptr || folded.compare(0, path_.size(), fold(path_)) != 0) {
        return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    WDFFILEOBJECT file = nullptr;
    const NTSTATUS status = host.open(device, path.substr(path_.size()), &file);
    if (!NT_SUCCESS(status)) {
        SetLastError(RtlNtStatusToDosError(status));
        return INVALID_HANDLE_VALUE;
    }
    auto record = std::make_unique<sim_file>();
    record->file = file;
    record->host = &host;
    const HANDLE handle = reinterpret_cast<HANDLE>(record.get());
    std::lock_guard guard(lock_);
    files_[handle] = std::move(record);
    return handle;
}

struct sim_driver_io::operation {
    std::atomic<int> phase{0}; // 0 being submitted, 1 left pending, 2 completed during the submission
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
};

void sim_driver_io::finish(sim_file* file, OVERLAPPED* overlapped, NTSTATUS status, ULONG_PTR information)
{
    overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(status));
    overlapped->InternalHigh = information;
    HANDLE port = nullptr;
    ULONG_PTR key = 0;
    {
        std::lock_guard guard(file->lock);
        port = file->port;
        key = file->key;
    }
    const bool quiet = (reinterpret_cast<ULONG_PTR>(overlapped->hEvent) & 1) != 0;
    const HANDLE event = without_low_bit(overlapped->hEvent);
    if (port != nullptr && !quiet) {
        PostQueuedCompletionStatus(port, static_cast<DWORD>(information), key, overlapped);
    }
    if (event != nullptr) {
        SetEvent(event);
    }
}

BOOL sim_driver_io::submit(sim_file* file, OVERLAPPED* overlapped, DWORD* transferred, bool read,
                           const std::function<std::uint64_t(kmdf::io_completion)>& start)
{
    if (overlapped == nullptr) {
        // A synchronous call: the same road, waited for here.
        OVERLAPPED local{};
        local.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(CreateEventW(nullptr, TRUE, FALSE, nullptr)) | 1);
        BOOL ok = submit(file, &local, transferred, false, start);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            ok = get_overlapped_result(reinterpret_cast<HANDLE>(file), &local, transferred, TRUE);
        }
        const DWORD error = GetLastError();
        CloseHandle(without_low_bit(local.hEvent));
        SetLastError(error);
        return ok;
    }
    overlapped->Internal = static_cast<ULONG_PTR>(STATUS_PENDING);
    overlapped->InternalHigh = 0;
    auto* op = new operation;
    const std::uint64_t ticket = start([this, file, overlapped, op, read](NTSTATUS status, ULONG_PTR information) {
        op->status = status;
        op->information = information;
        int expected = 0;
        if (op->phase.compare_exchange_strong(expected, 2)) {
            return; // the submitter answers
        }
        {
            std::lock_guard guard(file->lock);
            file->pending.erase(overlapped);
        }
        delete op;
        if (read && keep_completed_reads) {
            std::lock_guard guard(kept_lock_);
            kept_.push_back({file, overlapped, status, information});
            kept_changed_.notify_all();
            return;
        }
        finish(file, overlapped, status, information);
    });
    {
        std::lock_guard guard(file->lock);
        file->pending[overlapped] = ticket;
    }
    int expected = 0;
    if (op->phase.compare_exchange_strong(expected, 1)) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    // Completed during the submission.
    {
        std::lock_guard guard(file->lock);
        file->pending.erase(overlapped);
    }
    const NTSTATUS status = op->status;
    const ULONG_PTR information = op->information;
    delete op;
    if (read && keep_completed_reads) {
        // A read that ended while it was still being issued (a stop cancels
        // it on another thread) is held back like every other completed read:
        // to its issuer it is pending, and its completion reaches the port
        // when the test gives the kept reads back.
        std::lock_guard guard(kept_lock_);
        kept_.push_back({file, overlapped, status, information});
        kept_changed_.notify_all();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (!NT_SUCCESS(status)) {
        overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(status));
        SetLastError(RtlNtStatusToDosError(status));
        return FALSE;
    }
    finish(file, overlapped, status, information);
    if (transferred != nullptr) {
        *transferred = static_cast<DWORD>(information);
    }
    return TRUE;
}

BOOL sim_driver_io::device_io_control(HANDLE handle, DWORD code, void* input, DWORD input_size, void* output,
                                      DWORD output_size, DWORD* returned, OVERLAPPED* overlapped)
{
    sim_file* file = find(handle);
    if (file == nullptr) {
        return DeviceIoControl(handle, code, input, input_size, output, output_size, returned, overlapped);
    }
    return submit(file, overlapped, returned, false, [&](kmdf::io_completion done) {
        return host.submit_ioctl(file->file, code, input, input_size, output, output_size, std::move(done));
    });
}

BOOL sim_driver_io::read_file(HANDLE handle, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped)
{
    sim_file* file = find(handle);
    if (file == nullptr) {
        return ReadFile(handle, buffer, size, read, overlapped);
    }
    return submit(file, overlapped, read, true, [&](kmdf::io_completion done) {
        return host.submit_read(file->file, buffer, size, std::move(done));
    });
}

HANDLE sim_driver_io::create_io_completion_port(HANDLE handle, HANDLE port, ULONG_PTR key, DWORD threads)
{
    sim_file* file = handle == INVALID_HANDLE_VALUE ? nullptr : find(handle);
    if (file == nullptr) {
        return CreateIoCompletionPort(handle, port, key, threads);
    }
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard guard(file->lock);
    file->port = port;
    file->key = key;
    return port;
}

BOOL sim_driver_io::cancel_io_ex(HANDLE handle, OVERLAPPED* overlapped)
{
    sim_file* file = find(handle);
    if (file == nullptr) {
        return CancelIoEx(handle, overlapped);
    }
    std::vector<std::uint64_t> tickets;
    {
        std::lock_guard guard(file->lock);
        for (const auto& [record, ticket] : file->pending) {
            if (overlapped == nullptr || record == overlapped) {
                tickets.push_back(ticket);
            }
        }
    }
    bool any = false;
    for (const std::uint64_t ticket : tickets) {
        any = host.cancel(ticket) || any;
    }
    if (!any) {
        SetLastError(ERROR_NOT_FOUND);
    }
    return any ? TRUE : FALSE;
}

BOOL sim_driver_io::get_overlapped_result(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait)
{
    if (find(handle) == nullptr) {
        return GetOverlappedResult(handle, overlapped, transferred, wait);
    }
    const HANDLE event = without_low_bit(overlapped->hEvent);
    if (wait && event != nullptr) {
        WaitForSingleObject(event, INFINITE);
    }
    const auto status = static_cast<NTSTATUS>(overlapped->Internal);
    if (status == STATUS_PENDING) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (transferred != nullptr) {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (!NT_SUCCESS(status)) {
        SetLastError(RtlNtStatusToDosError(status));
        return FALSE;
    }
    return TRUE;
}

BOOL sim_driver_io::close_handle(HANDLE handle)
{
    sim_file* file = find(handle);
    if (file == nullptr) {
        return CloseHandle(handle);
    }
    host.close(file->file); // outstanding requests end first
    give_back(file);
    std::lock_guard guard(lock_);
    files_.erase(handle);
    return TRUE;
}

} // namespace nox_um_test
