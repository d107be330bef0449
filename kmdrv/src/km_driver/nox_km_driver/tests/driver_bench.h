#pragma once
// The driver loaded into the framework stand-in over a simulated camera, with
// its debug-print lines captured.

#include <kmdf_host.h>
#include <sim_camera.h>

#include "device.h"
#include "public/noxkm_ioctl.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace noxkm_test {

inline constexpr wchar_t settings_key[] = L"\\Registry\\Machine\\Software\\Corvane\\usb_driver";
inline constexpr wchar_t hardware_key[] =
    L"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\VID_F0CA&PID_0C01\\SIM00001\\Device Parameters";

class driver_bench {
public:
    // `log_setting` goes to the registry as service_log_level unless it is -1.
    explicit driver_bench(long long log_setting = 0x00020004);
    ~driver_bench();

    NTSTATUS load();
    // Loads the driver when needed, then adds and starts the device.
    NTSTATUS start();

    bool logged(std::string_view text) const;
    std::vector<std::string> lines() const;
    std::vector<std::string> violations_left(); // the stand-in's findings, cleared

    WDFFILEOBJECT open(std::wstring_view name, NTSTATUS* status = nullptr);
    kmdf::io_result ioctl(WDFFILEOBJECT file, ULONG code, const void* input, ULONG input_length, void* output,
                          ULONG output_length)
    {
        return host.ioctl(file, code, input, input_length, output, output_length);
    }

    sim_camera::camera camera;
    kmdf::host host{&DriverEntry};
    WDFDEVICE device = nullptr;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    bool loaded_ = false;
};

} // namespace noxkm_test
