#include "test_filter/service_backend.h"

#include <cstring>
#include <string>

#include "com_transport.h"

namespace test_filter {
namespace {

constexpr GUID video_proc_amp_set = {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr GUID camera_control_set = {0xC6E13370, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

// Offsets in the range-and-value record after its 24-byte request header.
constexpr std::size_t value_at = 24, flags_at = 28, capabilities_at = 32, minimum_at = 36, maximum_at = 40,
                      default_at = 44;

GUID set_of(control_interface which)
{
    return which == control_interface::video_proc_amp ? video_proc_amp_set : camera_control_set;
}

LONG field(const unsigned char (&record)[48], std::size_t at)
{
    LONG value = 0;
    std::memcpy(&value, record + at, sizeof(value));
    return value;
}

} // namespace

HRESULT service_backend::open(ICamTovraDiscoverService* service, std::string_view unique_key,
                              std::shared_ptr<service_backend>& backend)
{
    using test_support::retry_transport;
    using test_support::transport_step;
    if (service == nullptr) {
        return E_POINTER;
    }
    DShowDeviceServer_DeviceId ids[16] = {};
    ULONG count = 0;
    if (const HRESULT hr = retry_transport("GetDiscoveredDeviceList", transport_step::first_call, &IID_ICamTovraDiscoverService,
                                           [&] { return service->GetDiscoveredDeviceList(ids, 16, &count); });
        FAILED(hr)) {
        return hr;
    }
    const DShowDeviceServer_DeviceId* camera = nullptr;
    for (ULONG i = 0; i < count && i < 16 && camera == nullptr; ++i) {
        const std::string key(ids[i].UniqueKey, strnlen(ids[i].UniqueKey, sizeof(ids[i].UniqueKey)));
        if (unique_key.empty() || key == unique_key) {
            camera = &ids[i];
        }
    }
    if (camera == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    DShowDeviceServer_DeviceId id = *camera;
    atl::com_ptr<IUnknown> unknown;
    if (const HRESULT hr = retry_transport("CreateDevice", transport_step::unmarshal, [&] {
            unknown.reset();
            return service->CreateDevice(GetCurrentProcessId(), &id, unknown.put());
        });
        FAILED(hr)) {
        return hr;
    }
    atl::com_ptr<ICamTovraDevice> device;
    if (const HRESULT hr = retry_transport("QueryInterface(ICamTovraDevice)", transport_step::first_call, &IID_ICamTovraDevice, [&] {
            device.reset();
            return unknown->QueryInterface(IID_ICamTovraDevice, device.put_void());
        });
        FAILED(hr)) {
        return hr;
    }
    backend.reset(new service_backend(std::move(device)));
    return S_OK;
}

HRESULT service_backend::ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                                DWORD data_length)
{
    GUID copy = set;
    return device_->Set(&copy, id, static_cast<unsigned char*>(instance), instance_length,
                        static_cast<unsigned char*>(data), data_length);
}

HRESULT service_backend::ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                                DWORD data_length, DWORD* returned)
{
    GUID copy = set;
    ULONG bytes = 0;
    const HRESULT hr = device_->Get(&copy, id, static_cast<unsigned char*>(instance), instance_length,
                                    static_cast<unsigned char*>(data), data_length, &bytes);
    if (returned != nullptr) {
        *returned = bytes;
    }
    return hr;
}

HRESULT service_backend::ks_query_supported(REFGUID set, DWORD id, DWORD* support)
{
    GUID copy = set;
    ULONG answer = 0;
    const HRESULT hr = device_->QuerySupported(&copy, id, &answer);
    if (support != nullptr) {
        *support = answer;
    }
    return hr;
}

HRESULT service_backend::read_record(control_interface which, LONG property, unsigned char (&record)[48])
{
    std::memset(record, 0, sizeof(record));
    GUID set = set_of(which);
    ULONG returned = 0;
    const HRESULT hr = device_->Get(&set, static_cast<ULONG>(property), nullptr, 0, record, sizeof(record), &returned);
    if (SUCCEEDED(hr) && returned < sizeof(record)) {
        return E_FAIL;
    }
    return hr;
}

HRESULT service_backend::control_range(control_interface which, LONG property, LONG* minimum, LONG* maximum,
                                       LONG* step, LONG* default_value, LONG* flags)
{
    if (minimum == nullptr || maximum == nullptr || step == nullptr || default_value == nullptr || flags == nullptr) {
        return E_POINTER;
    }
    unsigned char record[48];
    if (const HRESULT hr = read_record(which, property, record); FAILED(hr)) {
        return hr;
    }
    *minimum = field(record, minimum_at);
    *maximum = field(record, maximum_at);
    *step = 1; // the record carries no stepping: every value in the range is valid
    *default_value = field(record, default_at);
    *flags = field(record, capabilities_at);
    return S_OK;
}

HRESULT service_backend::control_get(control_interface which, LONG property, LONG* value, LONG* flags)
{
    if (value == nullptr || flags == nullptr) {
        return E_POINTER;
    }
    unsigned char record[48];
    if (const HRESULT hr = read_record(which, property, record); FAILED(hr)) {
        return hr;
    }
    *value = field(record, value_at);
    *flags = field(record, flags_at);
    return S_OK;
}

HRESULT service_backend::control_set(control_interface which, LONG property, LONG value, LONG flags)
{
    unsigned char record[48] = {};
    std::memcpy(record + value_at, &value, sizeof(value));
    std::memcpy(record + flags_at, &flags, sizeof(flags));
    GUID set = set_of(which);
    return device_->Set(&set, static_cast<ULONG>(property), nullptr, 0, record, sizeof(record));
}

} // namespace test_filter
