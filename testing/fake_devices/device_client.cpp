// Test helper: a client process of the camera service. It unmarshals the
// discover service from the hexadecimal marshalling data given as the first
// argument (table-marshalled: it can be unmarshalled again), lists the
// cameras, writes and reads a value in the second one's device information,
// opens the first, carries property requests with a 4-byte and a larger
// buffer, creates a stream channel and reads its base data. With a second
// argument (an event name) it then signals that event and waits to be killed,
// holding every object. With "--properties" as the second argument it
// instead carries the standard video-set requests of a camera whose handlers
// the test registered (run_properties).
// Exit code 0 on success, otherwise the failure (device_client_exit.h); every
// failed call is printed with its HRESULT. A step that Wine's COM transport
// failed is tried again where it failed (com_transport.h); the product's own
// answers (E_FAIL of CreateDevice, say) are not. The "transport" exit codes
// (unmarshal and first query failed) stand only for a failure of COM's
// transport; the host starts such a client again.
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
#include "com_transport.h"
#include "device_client_exit.h"

namespace {

using namespace fake_devices;
using test_support::retry_transport;
using test_support::transport_step;

template <class T>
struct released {
    T* pointer = nullptr;
    released() = default;
    released(const released&) = delete;
    released& operator=(const released&) = delete;
    ~released()
    {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
    T** put() { return &pointer; }
    void** put_void() { return reinterpret_cast<void**>(&pointer); }
    T* operator->() const { return pointer; }
};

// A call that answered success but not S_OK (or not the data wanted) is a
// failure of the product: printed like a failed call.
bool expect_ok(const char* what, HRESULT hr)
{
    if (hr == S_OK) {
        return true;
    }
    std::fprintf(stderr, "%s answered 0x%08lX, not S_OK\n", what, static_cast<unsigned long>(hr));
    std::fflush(stderr);
    return false;
}

int run(ICamTovraDiscoverService* service, const wchar_t* ready_event)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    if (!expect_ok("GetDiscoveredDeviceList", retry_transport("GetDiscoveredDeviceList", transport_step::first_call,
                                                              &IID_ICamTovraDiscoverService, [&] { return service->GetDiscoveredDeviceList(ids, 4, &count); }))) {
        return client_list_failed;
    }
    if (count < 2) {
        std::fprintf(stderr, "GetDiscoveredDeviceList listed %lu cameras, not 2\n", static_cast<unsigned long>(count));
        return client_too_few_cameras;
    }
    if (std::strcmp(ids[0].UniqueKey, "cam_0") != 0) {
        std::fprintf(stderr, "the first camera is \"%.127s\", not cam_0\n", ids[0].UniqueKey);
        return client_wrong_first_camera;
    }

    // The second camera's record carries a property store.
    released<ICamTovraDeviceInfo> info;
    if (!expect_ok("GetDeviceInstanceInfo", retry_transport("GetDeviceInstanceInfo", transport_step::unmarshal,
                                                           &IID_ICamTovraDeviceInfo, [&] {
            return service->GetDeviceInstanceInfo(&ids[1], info.put());
        })) ||
        info.pointer == nullptr) {
        return client_device_info_failed;
    }
    wchar_t value_name[] = L"client_value";
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = -7;
    VARIANT read;
    VariantInit(&read);
    const bool stored =
        expect_ok("WriteProperty", retry_transport("WriteProperty", transport_step::first_call,
                                                   &IID_ICamTovraDeviceInfo, [&] { return info->WriteProperty(value_name, &value); })) &&
        expect_ok("ReadProperty", test_support::report_failure("ReadProperty", info->ReadProperty(value_name, &read)));
    if (!stored || read.vt != VT_I8 || read.llVal != -7) {
        std::fprintf(stderr, "the property read back has type %u, not VT_I8 -7\n", static_cast<unsigned>(read.vt));
        return client_property_round_trip_failed;
    }

    released<IUnknown> unknown;
    if (!expect_ok("CreateDevice", retry_transport("CreateDevice", transport_step::unmarshal, [&] {
            return service->CreateDevice(GetCurrentProcessId(), &ids[0], unknown.put());
        })) ||
        unknown.pointer == nullptr) {
        return client_create_device_failed;
    }
    released<ICamTovraDevice> device;
    if (FAILED(retry_transport("QueryInterface(ICamTovraDevice)", transport_step::first_call,
                               &IID_ICamTovraDevice, [&] { return unknown->QueryInterface(IID_ICamTovraDevice, device.put_void()); }))) {
        return test_support::exit_code_for(client_device_query_failed, client_device_query_refused);
    }
    GUID set = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
    transport_step step = transport_step::first_call;
    for (const ULONG size : {4ul, 300ul}) {
        std::vector<unsigned char> sent(size);
        for (ULONG i = 0; i < size; ++i) {
            sent[i] = static_cast<unsigned char>(i * 7 + size);
        }
        if (!expect_ok("Set", retry_transport("Set", step, &IID_ICamTovraDevice, [&] {
                return device->Set(&set, size, nullptr, 0, sent.data(), size);
            }))) {
            return client_set_failed;
        }
        step = transport_step::call;
        std::vector<unsigned char> got(size);
        ULONG returned = 0;
        if (!expect_ok("Get", retry_transport("Get", step, &IID_ICamTovraDevice, [&] {
                return device->Get(&set, size, nullptr, 0, got.data(), size, &returned);
            }))) {
            return client_get_failed;
        }
        if (returned != size || got != sent) {
            std::fprintf(stderr, "Get returned %lu bytes, other than the %lu set\n", static_cast<unsigned long>(returned),
                         static_cast<unsigned long>(size));
            return client_get_failed;
        }
    }
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    released<ICamTovraStreamChannel> channel;
    if (!expect_ok("CreateStreamChannel", retry_transport("CreateStreamChannel", transport_step::unmarshal,
                                                         &IID_ICamTovraStreamChannel, [&] {
            return device->CreateStreamChannel(channel.put(), &format);
        })) ||
        channel.pointer == nullptr) {
        return client_channel_failed;
    }
    BSTR name = nullptr;
    ULONG frames = 0;
    if (!expect_ok("GetBaseData", retry_transport("GetBaseData", transport_step::first_call,
                                                  &IID_ICamTovraStreamChannel, [&] { return channel->GetBaseData(&name, &frames); }))) {
        return client_base_data_failed;
    }
    const bool expected = name != nullptr && std::wcscmp(name, L"Global\\fake_semaphore") == 0 && frames == 4;
    SysFreeString(name);
    if (!expected) {
        std::fprintf(stderr, "GetBaseData gave other data than the fake camera's (%lu frames)\n",
                     static_cast<unsigned long>(frames));
        return client_base_data_failed;
    }

    if (ready_event != nullptr) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_event);
        if (ready == nullptr) {
            std::fprintf(stderr, "OpenEventW(ready) failed: error %lu\n", GetLastError());
            return client_ready_event_failed;
        }
        SetEvent(ready);
        CloseHandle(ready);
        Sleep(INFINITE); // holds every object until killed
    }
    return client_done;
}

// The first camera serves PROPSETID_VIDCAP_VIDEOPROCAMP id 2 with a handler
// that answers minimum -10, maximum 90, default 5, capabilities 3, value 42
// and flags 2, and id 3 not at all.
int run_properties(ICamTovraDiscoverService* service)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    if (!expect_ok("GetDiscoveredDeviceList", retry_transport("GetDiscoveredDeviceList", transport_step::first_call,
                                                              &IID_ICamTovraDiscoverService, [&] { return service->GetDiscoveredDeviceList(ids, 4, &count); }))) {
        return client_list_failed;
    }
    if (count == 0) {
        std::fprintf(stderr, "GetDiscoveredDeviceList listed no camera\n");
        return client_too_few_cameras;
    }
    released<IUnknown> unknown;
    if (!expect_ok("CreateDevice", retry_transport("CreateDevice", transport_step::unmarshal, [&] {
            return service->CreateDevice(GetCurrentProcessId(), &ids[0], unknown.put());
        })) ||
        unknown.pointer == nullptr) {
        return client_create_device_failed;
    }
    released<ICamTovraDevice> device;
    if (FAILED(retry_transport("QueryInterface(ICamTovraDevice)", transport_step::first_call,
                               &IID_ICamTovraDevice, [&] { return unknown->QueryInterface(IID_ICamTovraDevice, device.put_void()); }))) {
        return test_support::exit_code_for(client_device_query_failed, client_device_query_refused);
    }
    GUID set = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};

    unsigned char record[48];
    for (int i = 0; i < 48; ++i) {
        record[i] = static_cast<unsigned char>(i < 24 ? i * 3 + 1 : 0xCC);
    }
    ULONG returned = 0;
    if (!expect_ok("Get(standard record)", retry_transport("Get(standard record)", transport_step::first_call,
                                                          &IID_ICamTovraDevice, [&] {
            return device->Get(&set, 2, nullptr, 0, record, 48, &returned);
        }))) {
        return client_standard_get_failed;
    }
    // The caller's KS header in bytes 0-23 comes back as it was sent.
    bool header_kept = true;
    for (int i = 0; i < 24; ++i) {
        header_kept = header_kept && record[i] == static_cast<unsigned char>(i * 3 + 1);
    }
    const std::int32_t expected[6] = {42, 2, 3, -10, 90, 5};
    if (returned != 48 || !header_kept || std::memcmp(record + 24, expected, 24) != 0) {
        std::fprintf(stderr, "Get(standard record) gave %lu bytes other than the merged record\n",
                     static_cast<unsigned long>(returned));
        return client_standard_get_failed;
    }

    std::memset(record, 0x5A, sizeof(record));
    const std::int32_t value = 17;
    const std::uint32_t flags = 1;
    std::memcpy(record + 24, &value, 4);
    std::memcpy(record + 28, &flags, 4);
    if (!expect_ok("Set(standard record)", retry_transport("Set(standard record)", transport_step::call, [&] {
            return device->Set(&set, 2, nullptr, 0, record, 48);
        }))) {
        return client_standard_set_failed;
    }

    const HRESULT no_buffer = retry_transport("Get(no buffer, refusal expected)", transport_step::call,
                                              [&] { return device->Get(&set, 2, nullptr, 0, nullptr, 48, &returned); });
    if (no_buffer != E_POINTER) {
        std::fprintf(stderr, "Get without a buffer answered 0x%08lX, not E_POINTER\n",
                     static_cast<unsigned long>(no_buffer));
        return client_null_buffer_accepted;
    }

    ULONG support = 0;
    if (!expect_ok("QuerySupported", retry_transport("QuerySupported", transport_step::call,
                                                     [&] { return device->QuerySupported(&set, 2, &support); }))) {
        return client_support_wrong;
    }
    const ULONG served_support = support;
    const HRESULT unserved = retry_transport("QuerySupported(unserved)", transport_step::call,
                                             [&] { return device->QuerySupported(&set, 3, &support); });
    if (served_support != 3 || unserved != E_NOTIMPL) {
        std::fprintf(stderr, "QuerySupported gave %lu, and 0x%08lX for an unserved id\n",
                     static_cast<unsigned long>(served_support), static_cast<unsigned long>(unserved));
        return client_support_wrong;
    }
    return client_done;
}

int run_client(const wchar_t* marshalled, const wchar_t* ready_event)
{
    const std::vector<unsigned char> data = test_support::from_hex(marshalled);
    released<ICamTovraDiscoverService> service;
    if (FAILED(retry_transport("CoUnmarshalInterface(ICamTovraDiscoverService)", transport_step::unmarshal,
                               &IID_ICamTovraDiscoverService, [&] { return test_support::unmarshal_interface(data, IID_ICamTovraDiscoverService, service.put_void()); }))) {
        return test_support::exit_code_for(client_unmarshal_failed, client_unmarshal_refused);
    }
    if (ready_event != nullptr && std::wcscmp(ready_event, L"--properties") == 0) {
        return run_properties(service.pointer);
    }
    return run(service.pointer, ready_event);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 2) {
        return client_bad_arguments;
    }
    if (const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); FAILED(hr)) {
        test_support::report_failure("CoInitializeEx", hr);
        return client_com_not_initialised;
    }
    const int result = run_client(argv[1], argc > 2 ? argv[2] : nullptr);
    CoUninitialize();
    return result;
}
