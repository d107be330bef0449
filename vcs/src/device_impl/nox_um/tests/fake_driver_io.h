#pragma once
// A scripted driver: I/O controls answered by a table the test fills, reads
// that stay pending until the test completes them. For the driver answers a
// real driver should never give (short or oversized records, failed reads that
// carry data).

#include <nox_um/driver_io.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace nox_um_test {

class fake_driver_io final : public nox_um::driver_io {
public:
    struct answer {
        DWORD error = 0;       // Win32 error of the call, 0 for success
        DWORD returned = 0;    // bytes the driver reports
        std::vector<std::uint8_t> bytes; // written to the output buffer (at most its size)
    };
    struct ioctl_call {
        DWORD code;
        std::vector<std::uint8_t> input;
        DWORD output_size;
        HANDLE event;
    };
    std::function<answer(const ioctl_call&)> on_ioctl = [](const ioctl_call&) { return answer{}; };

    HANDLE create_file(const std::wstring& path, DWORD, DWORD, DWORD, DWORD) override
    {
        if (path.find(L"missing") != std::wstring::npos) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        return fake_file();
    }

    BOOL device_io_control(HANDLE, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned, OVERLAPPED* overlapped) override
    {
        ioctl_call call{code, {}, output_size, overlapped == nullptr ? nullptr : overlapped->hEvent};
        if (input != nullptr) {
            call.input.assign(static_cast<std::uint8_t*>(input), static_cast<std::uint8_t*>(input) + input_size);
        }
        {
            std::lock_guard guard(lock);
            calls.push_back(call);
        }
        const answer a = on_ioctl(call);
        if (output != nullptr) {
            memcpy(output, a.bytes.data(), std::min<std::size_t>(a.bytes.size(), output_size));
        }
        if (a.error != 0) {
            SetLastError(a.error);
            return FALSE;
        }
        if (overlapped != nullptr) {
            overlapped->Internal = 0;
            overlapped->InternalHigh = a.returned;
        }
        if (returned != nullptr) {
            *returned = a.returned;
        }
        return TRUE;
    }

    BOOL read_file(HANDLE, void*, DWORD, DWORD*, OVERLAPPED* overlapped) override
    {
        if (const DWORD error = refuse_reads.load(); error != 0 && refusals_left.load() != 0) {
            if (refusals_left.load() > 0) {
                --refusals_left;
            }
            SetLastError(error);
            return FALSE;
        }
        std::lock_guard guard(lock);
        overlapped->Internal = 0x103; // pending
        reads.push_back(overlapped);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    HANDLE create_io_completion_port(HANDLE file, HANDLE existing, ULONG_PTR key, DWORD threads) override
    {
        if (file == INVALID_HANDLE_VALUE) {
            return CreateIoCompletionPort(file, existing, key, threads);
        }
        port = existing;
        port_key = key;
        return existing;
    }

    // Completes the oldest pending read with an NTSTATUS and a byte count.
    bool complete_read(LONG status, DWORD bytes)
    {
        OVERLAPPED* overlapped = nullptr;
        {
            std::lock_guard guard(lock);
            if (reads.empty()) {
                return false;
            }
            overlapped = reads.front();
            reads.erase(reads.begin());
        }
        overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(status));
        overlapped->InternalHigh = bytes;
        return PostQueuedCompletionStatus(port, bytes, port_key, overlapped) != FALSE;
    }

    BOOL cancel_io_ex(HANDLE, OVERLAPPED*) override
    {
        ++cancels;
        while (complete_read(static_cast<LONG>(0xC0000120), 0)) {
        }
        return TRUE;
    }

    BOOL get_overlapped_result(HANDLE, OVERLAPPED* overlapped, DWORD* transferred, BOOL) override
    {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
        return TRUE;
    }

    BOOL close_handle(HANDLE handle) override { return handle == fake_file() ? TRUE : CloseHandle(handle); }

    std::size_t pending_reads()
    {
        std::lock_guard guard(lock);
        return reads.size();
    }

    static HANDLE fake_file() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ACE0000)); }

    std::mutex lock;
    std::vector<ioctl_call> calls;
    std::vector<OVERLAPPED*> reads;
    HANDLE port = nullptr;
    ULONG_PTR port_key = 0;
    int cancels = 0;
    std::atomic<DWORD> refuse_reads{0}; // a Win32 error: reads then fail when issued
    std::atomic<int> refusals_left{-1};  // reads refused before they pass again; negative: no end
};

} // namespace nox_um_test
