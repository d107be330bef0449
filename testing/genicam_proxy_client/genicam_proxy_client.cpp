// Test helper: a client process that reaches a camera's GenICam documents
// through the service's proxy/stub library. It unmarshals the discover service
// from the hexadecimal marshalling data of its first argument, opens "cam_0",
// fetches the size and then the text of the camera's two documents into the
// files <second argument>0.xml and <second argument>1.xml, and carries named
// requests: a set and a get of Width/Value, a get of it into 4 bytes (which
// must ask for 8), and a set and a get of ToneMappingEnable/Value.
// Exit code 0 on success, otherwise the number of the step that failed.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "announce_started.h"
#include "marshalled_interface.h"
#include "camtovra_service.h"

namespace {
// Failures of COM's transport, which the test may retry: the service could
// not be reached from the marshalling data, or the first call on an object
// made for this client failed.
constexpr int unmarshal_failed = 12;
constexpr int first_query_failed = 4;

constexpr GUID generic_driver_interface = {
    0x9ddd5edc, 0x5eff, 0x4d3b, {0xb8, 0x5b, 0x46, 0xfb, 0xc4, 0xe4, 0x9e, 0x59}};

// 8 header bytes, the request text, a terminator.
std::vector<unsigned char> named_instance(const char* text)
{
    std::vector<unsigned char> bytes(8, 0);
    bytes.insert(bytes.end(), text, text + std::strlen(text) + 1);
    return bytes;
}

HRESULT named_get(ICamTovraDevice* device, const char* text, void* value, ULONG size, ULONG* returned)
{
    GUID set = generic_driver_interface;
    auto instance = named_instance(text);
    return device->Get(&set, 4, instance.data(), static_cast<ULONG>(instance.size()),
                       static_cast<unsigned char*>(value), size, returned);
}

HRESULT named_set(ICamTovraDevice* device, const char* text, std::int64_t value)
{
    GUID set = generic_driver_interface;
    auto instance = named_instance(text);
    return device->Set(&set, 4, instance.data(), static_cast<ULONG>(instance.size()),
                       reinterpret_cast<unsigned char*>(&value), sizeof(value));
}

void report(const char* step, HRESULT hr)
{
    std::fprintf(stderr, "genicam_proxy_client: %s: 0x%08lX\n", step, static_cast<unsigned long>(hr));
}

int run(ICamTovraDiscoverService* service, const std::wstring& out_prefix)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    if (service->GetDiscoveredDeviceList(ids, 4, &count) != S_OK || count == 0 ||
        std::strcmp(ids[0].UniqueKey, "cam_0") != 0) {
        return 2;
    }
    IUnknown* unknown = nullptr;
    if (service->CreateDevice(GetCurrentProcessId(), &ids[0], &unknown) != S_OK || unknown == nullptr) {
        return 3;
    }
    ICamTovraDevice* device = nullptr;
    const HRESULT queried =
        test_support::first_query(unknown, IID_ICamTovraDevice, &device, "QueryInterface(ICamTovraDevice)");
    unknown->Release();
    if (FAILED(queried)) {
        report("QueryInterface(ICamTovraDevice)", queried);
        return test_support::exit_code_for(first_query_failed, test_support::first_query_refused_exit);
    }
    int result = 0;
    GUID set = generic_driver_interface;
    for (std::uint32_t index = 0; index < 2 && result == 0; ++index) {
        std::uint32_t instance[2] = {1, index};
        std::uint32_t size = 0;
        ULONG returned = 0;
        HRESULT hr = device->Get(&set, 1, reinterpret_cast<unsigned char*>(instance), sizeof(instance),
                                 reinterpret_cast<unsigned char*>(&size), sizeof(size), &returned);
        if (hr != S_OK || returned != 4 || size == 0) {
            report("document size", hr);
            result = 5;
            break;
        }
        std::vector<unsigned char> text(size);
        returned = 0;
        hr = device->Get(&set, 2, reinterpret_cast<unsigned char*>(instance), sizeof(instance), text.data(), size,
                         &returned);
        if (hr != S_OK || returned != size) {
            report("document text", hr);
            result = 6;
            break;
        }
        const std::wstring path = out_prefix + std::to_wstring(index) + L".xml";
        FILE* file = _wfopen(path.c_str(), L"wb");
        if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            result = 7;
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    if (result == 0) {
        std::int64_t value = 0;
        ULONG returned = 0;
        HRESULT hr = named_set(device, "Width/Value", 640);
        if (hr != S_OK) {
            report("set Width/Value", hr);
            result = 8;
        } else if ((hr = named_get(device, "Width/Value", &value, sizeof(value), &returned)) != S_OK ||
                   returned != 8 || value != 640) {
            report("get Width/Value", hr);
            result = 9;
        }
    }
    if (result == 0) {
        std::uint32_t small = 0;
        ULONG returned = 0;
        const HRESULT hr = named_get(device, "Width/Value", &small, sizeof(small), &returned);
        if (hr != static_cast<HRESULT>(0x8007007A) || returned != 8) {
            report("get Width/Value into 4 bytes", hr);
            result = 10;
        }
    }
    if (result == 0) {
        std::int64_t value = 0;
        ULONG returned = 0;
        HRESULT hr = named_set(device, "ToneMappingEnable/Value", 1);
        if (hr != S_OK) {
            report("set ToneMappingEnable/Value", hr);
            result = 11;
        } else if ((hr = named_get(device, "ToneMappingEnable/Value", &value, sizeof(value), &returned)) != S_OK ||
                   returned != 8 || value != 1) {
            report("get ToneMappingEnable/Value", hr);
            result = 13;
        }
    }
    device->Release();
    return result;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 3) {
        return ERROR_INVALID_PARAMETER;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    int result = 0;
    if (ICamTovraDiscoverService* service = test_support::unmarshal<ICamTovraDiscoverService>(
            test_support::from_hex(argv[1]), IID_ICamTovraDiscoverService,
            "CoUnmarshalInterface(ICamTovraDiscoverService)")) {
        result = run(service, argv[2]);
        service->Release();
    } else {
        result = test_support::exit_code_for(unmarshal_failed, test_support::unmarshal_refused_exit);
    }
    CoUninitialize();
    return result;
}
