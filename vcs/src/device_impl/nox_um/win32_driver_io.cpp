#include "driver_io.h"

namespace nox_um {
namespace {

class win32_io final : public driver_io {
public:
    HANDLE create_file(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned, OVERLAPPED* overlapped) override
    {
        return DeviceIoControl(file, code, input, input_size, output, output_size, returned, overlapped);
    }
    BOOL read_file(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) override
    {
        return ReadFile(file, buffer, size, read, overlapped);
    }
    HANDLE create_io_completion_port(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads) override
    {
        return CreateIoCompletionPort(file, port, key, threads);
    }
    BOOL cancel_io_ex(HANDLE file, OVERLAPPED* overlapped) override { return CancelIoEx(file, overlapped); }
    BOOL get_overlapped_result(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override
    {
        return GetOverlappedResult(file, overlapped, transferred, wait);
    }
    BOOL close_handle(HANDLE handle) override { return CloseHandle(handle); }
};

} // namespace

driver_io& win32_driver_io()
{
    static win32_io io;
    return io;
}

} // namespace nox_um
