#pragma once
// A driver_io whose device path leads to the driver library, loaded into the
// framework stand-in over a simulated camera in this process. It behaves as
// the kernel would: a request completed at once with an error fails the call;
// one left pending fails with ERROR_IO_PENDING and completes later through
// the overlapped record (status and byte count), its event (without the low
// bit) and, unless that bit is set, a packet on the completion port the file
// is bound to. Other paths and handles go to Win32.

#include <nox_um/driver_io.h>

#include <kmdf_host.h>
#include <sim_camera.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace nox_um_test {

class sim_driver_io final : public nox_um::driver_io {
public:
    sim_driver_io();
    ~sim_driver_io() override;

    // Loads the driver and starts the simulated camera; the result of the start.
    NTSTATUS start();
    // The interface path of the simulated camera.
    const std::wstring& device_path() const { return path_; }
    // Surprise removal of the device (the camera leaves the bus first).
    void remove_device();

    HANDLE create_file(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
    BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned, OVERLAPPED* overlapped) override;
    BOOL read_file(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) override;
    HANDLE create_io_completion_port(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads) override;
    BOOL cancel_io_ex(HANDLE file, OVERLAPPED* overlapped) override;
    BOOL get_overlapped_result(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override;
    BOOL close_handle(HANDLE handle) override;

    std::size_t open_files() const;

    // While set, reads that the driver completes asynchronously are not given
    // back to the caller (overlapped record, event, port) but kept, as a
    // kernel does with a request that a stuck driver holds past its cancel.
    std::atomic<bool> keep_completed_reads{false};
    // Gives the kept reads back now; returns how many. Closing their file
    // gives them back too.
    std::size_t give_back_kept_reads();
    std::size_t kept_reads() const;
    // Waits until at least `count` reads are kept; false on time-out.
    bool wait_for_kept_reads(std::size_t count, std::chrono::milliseconds timeout) const;

    sim_camera::camera camera;
    kmdf::host host;
    WDFDEVICE device = nullptr;

private:
    struct sim_file;
    struct operation;
    struct kept_read {
        sim_file* file;
        OVERLAPPED* overlapped;
        NTSTATUS status;
        ULONG_PTR information;
    };
    sim_file* find(HANDLE handle) const;
    BOOL submit(sim_file* file, OVERLAPPED* overlapped, DWORD* transferred, bool read,
                const std::function<std::uint64_t(kmdf::io_completion)>& start);
    static void finish(sim_file* file, OVERLAPPED* overlapped, NTSTATUS status, ULONG_PTR information);
    // Gives back the kept reads of `file` (all when null).
    std::size_t give_back(const sim_file* file);

    std::wstring path_;
    mutable std::mutex lock_;
    std::map<HANDLE, std::unique_ptr<sim_file>> files_;
    mutable std::mutex kept_lock_;
    mutable std::condition_variable kept_changed_;
    std::vector<kept_read> kept_;
};

} // namespace nox_um_test
