// Test client of the camera service: activates CamTovraDiscoverService out of
// process and prints the discovered cameras, the service's version and its
// process id. Exit code 0 when the service answered from another process;
// otherwise 1 (COM not initialised), 2 (activation failed), 3 (version not
// read), 4 (process id not read) or 5 (answered from this process).
// The activation and the first call are tried again when Wine's COM transport
// failed them (each failure printed).

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "camtovra_service.h"
#include "com_transport.h"

namespace {

template <class T>
struct released {
    T* pointer = nullptr;
    ~released()
    {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
};

int run()
{
    released<ICamTovraDiscoverService> service;
    using test_support::transport_step;
    HRESULT hr = test_support::retry_transport("CoCreateInstance(CamTovraDiscoverService)", transport_step::activation, &IID_ICamTovraDiscoverService,
                                               [&] {
                                                   return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr,
                                                                           CLSCTX_LOCAL_SERVER,
                                                                           IID_ICamTovraDiscoverService,
                                                                           reinterpret_cast<void**>(&service.pointer));
                                               });
    if (FAILED(hr)) {
        std::printf("CoCreateInstance(CamTovraDiscoverService) failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }

    DShowDeviceServer_DeviceId probe{};
    ULONG count = 0;
    test_support::retry_transport("GetDiscoveredDeviceList", transport_step::first_call, &IID_ICamTovraDiscoverService, [&] {
        hr = service.pointer->GetDiscoveredDeviceList(&probe, 0, &count);
        // A short array is the answer wanted here, not a failure.
        return hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) ? S_OK : hr;
    });
    std::vector<DShowDeviceServer_DeviceId> devices;
    if (hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) && count > 0) {
        devices.resize(count);
        hr = service.pointer->GetDiscoveredDeviceList(devices.data(), count, &count);
        devices.resize(SUCCEEDED(hr) ? count : 0);
    }
    if (SUCCEEDED(hr)) {
        std::printf("Cameras: %lu\n", static_cast<unsigned long>(devices.size()));
        for (const auto& device : devices) {
            std::printf("  %.127s\n", device.UniqueKey);
        }
    } else {
        std::printf("Cameras: none listed (the service has no device list: 0x%08lx)\n", static_cast<unsigned long>(hr));
    }

    std::uint64_t version = 0;
    ULONG size = 0;
    hr = service.pointer->GetServiceProperty(5, reinterpret_cast<unsigned char*>(&version), sizeof(version), &size);
    if (FAILED(hr)) {
        std::printf("Service version: failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 3;
    }
    std::printf("Service version: %u.%u.%u.%u\n", static_cast<unsigned>(version >> 48),
                static_cast<unsigned>(version >> 32 & 0xFFFF), static_cast<unsigned>(version >> 16 & 0xFFFF),
                static_cast<unsigned>(version & 0xFFFF));

    std::uint64_t process_id = 0;
    hr = service.pointer->GetServiceProperty(26, reinterpret_cast<unsigned char*>(&process_id), sizeof(process_id),
                                             &size);
    if (FAILED(hr)) {
        std::printf("Service process id: failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return 4;
    }
    std::printf("Service process id: %llu (this client: %lu)\n", static_cast<unsigned long long>(process_id),
                GetCurrentProcessId());
    return process_id != GetCurrentProcessId() ? 0 : 5;
}

} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    const int result = run();
    CoUninitialize();
    std::fflush(stdout);
    return result;
}
