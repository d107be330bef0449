// Test helper: a client process that sends camera property requests through
// the service's proxy/stub library. It unmarshals the discover service from
// the hexadecimal marshalling data of its first argument, opens "cam_0", runs
// its fixed list of gets and sets and writes one line per request into the
// file named by its second argument: the request's name, the HRESULT, the
// bytes returned and the value buffer in hexadecimal.
// Exit code 0 when every request was carried (whatever it answered),
// otherwise the number of the step that failed.
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
// Failures of COM's transport, which the test may retry.
constexpr int unmarshal_failed = 12;
constexpr int first_query_failed = 4;

constexpr GUID video_proc_amp = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
constexpr GUID camera_control = {0xc6e13370, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
constexpr GUID vendor = {0x515e97d1, 0xc453, 0x4772, {0xa4, 0x89, 0xcc, 0x07, 0x0a, 0x5a, 0x24, 0x42}};
constexpr GUID generic_driver_interface = {
    0x9ddd5edc, 0x5eff, 0x4d3b, {0xb8, 0x5b, 0x46, 0xfb, 0xc4, 0xe4, 0x9e, 0x59}};

// A record of `size` bytes with i32 fields at the given offsets.
std::vector<unsigned char> record(std::size_t size, std::initializer_list<std::pair<std::size_t, std::int32_t>> fields)
{
    std::vector<unsigned char> bytes(size, 0);
    for (const auto& [offset, value] : fields) {
        std::memcpy(bytes.data() + offset, &value, sizeof(value));
    }
    return bytes;
}

std::vector<unsigned char> float_record(float value)
{
    std::vector<unsigned char> bytes(56, 0);
    std::memcpy(bytes.data() + 24, &value, sizeof(value));
    return bytes;
}

struct request {
    const char* name;
    bool set;
    GUID property_set;
    std::uint32_t id;
    std::vector<unsigned char> value; // a get: its size is the buffer's
    std::vector<unsigned char> instance;
};

std::vector<unsigned char> named_instance(const char* text)
{
    const std::size_t length = std::strlen(text) + 1;
    std::vector<unsigned char> bytes(8 + length, 0);
    std::memcpy(bytes.data() + 8, text, length);
    return bytes;
}

std::vector<request> requests()
{
    return {
        {"get_gain_vpa", false, video_proc_amp, 9, std::vector<unsigned char>(48), {}},
        {"get_exposure_cc", false, camera_control, 4, std::vector<unsigned char>(48), {}},
        {"get_gain_241", false, vendor, 241, std::vector<unsigned char>(48), {}},
        {"get_exposure_200", false, vendor, 200, std::vector<unsigned char>(56), {}},
        {"get_strobe", false, vendor, 125, std::vector<unsigned char>(88), {}},
        {"get_strobe_87", false, vendor, 125, std::vector<unsigned char>(87), {}},
        {"get_gpio", false, vendor, 122, std::vector<unsigned char>(40), {}},
        {"get_gpio_39", false, vendor, 122, std::vector<unsigned char>(39), {}},
        {"set_gain_241", true, vendor, 241, record(48, {{24, 1250}}), {}},
        {"set_exposure_cc", true, camera_control, 4, record(48, {{24, -6}, {28, 2}}), {}},
        {"set_exposure_cc_31", true, camera_control, 4, record(48, {{24, 31}, {28, 2}}), {}},
        {"set_exposure_cc_min", true, camera_control, 4, record(48, {{24, INT32_MIN}, {28, 2}}), {}},
        {"set_exposure_200", true, vendor, 200, float_record(0.25F), {}},
        {"set_exposure_200_55", true, vendor, 200, std::vector<unsigned char>(55), {}},
        {"get_exposure_200_after", false, vendor, 200, std::vector<unsigned char>(56), {}},
        {"get_intensity", false, generic_driver_interface, 4, std::vector<unsigned char>(8),
         named_instance("ToneMapping_Intensity_Elem/Value")},
        {"get_polarization", false, generic_driver_interface, 4, std::vector<unsigned char>(32),
         named_instance("PolarizationVisulizationMode/SelectedEntry")},
    };
}

int run(ICamTovraDiscoverService* service, const std::wstring& out_path)
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
        return test_support::exit_code_for(first_query_failed, test_support::first_query_refused_exit);
    }
    FILE* out = _wfopen(out_path.c_str(), L"wb");
    if (out == nullptr) {
        device->Release();
        return 5;
    }
    for (request& r : requests()) {
        GUID set = r.property_set;
        ULONG returned = 0;
        unsigned char* instance = r.instance.empty() ? nullptr : r.instance.data();
        const auto instance_size = static_cast<ULONG>(r.instance.size());
        const HRESULT hr =
            r.set ? device->Set(&set, r.id, instance, instance_size, r.value.data(), static_cast<ULONG>(r.value.size()))
                  : device->Get(&set, r.id, instance, instance_size, r.value.data(),
                                static_cast<ULONG>(r.value.size()), &returned);
        std::fprintf(out, "%s %08lX %lu ", r.name, static_cast<unsigned long>(hr), static_cast<unsigned long>(returned));
        for (const unsigned char byte : r.value) {
            std::fprintf(out, "%02X", byte);
        }
        std::fprintf(out, "\n");
    }
    std::fclose(out);
    device->Release();
    return 0;
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
