// Test helper: a client process of the camera service. It unmarshals the
// discover service from the hexadecimal marshalling data given as the first
// argument, lists the cameras, writes and reads a value in the second one's
// device information, opens the first, carries property requests
// with a 4-byte and a larger buffer, creates a stream channel and reads its
// base data. With a second argument (an event name) it then signals that
// event and waits to be killed, holding every object.
// With "--properties" as the second argument it instead carries the standard
// video-set requests of a camera whose handlers the test registered (see
// run_properties).
// Exit code 0 on success, otherwise the number of the step that failed.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "camtovra_service.h"

namespace {
// The service could not be reached from the marshalling data.
constexpr int unmarshal_failed = 12;
// The first interface query on an object made for this client failed.
constexpr int first_query_failed = 4;

std::vector<unsigned char> from_hex(const wchar_t* text)
{
    std::vector<unsigned char> bytes;
    const std::size_t length = wcslen(text);
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const wchar_t pair[3] = {text[i], text[i + 1], 0};
        bytes.push_back(static_cast<unsigned char>(wcstoul(pair, nullptr, 16)));
    }
    return bytes;
}

ICamTovraDiscoverService* unmarshal(const std::vector<unsigned char>& data)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, data.size());
    if (memory == nullptr) {
        return nullptr;
    }
    std::memcpy(GlobalLock(memory), data.data(), data.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    ICamTovraDiscoverService* service = nullptr;
    CoUnmarshalInterface(stream, IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service));
    stream->Release();
    return service;
}

int run(ICamTovraDiscoverService* service, const wchar_t* ready_event)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    if (service->GetDiscoveredDeviceList(ids, 4, &count) != S_OK || count == 0 ||
        std::strcmp(ids[0].UniqueKey, "cam_0") != 0) {
        return 2;
    }
    // The second camera's record carries a property store.
    ICamTovraDeviceInfo* info = nullptr;
    if (count < 2 || service->GetDeviceInstanceInfo(&ids[1], &info) != S_OK || info == nullptr) {
        return 10;
    }
    wchar_t value_name[] = L"client_value";
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = -7;
    VARIANT read;
    VariantInit(&read);
    const bool stored = info->WriteProperty(value_name, &value) == S_OK &&
                        info->ReadProperty(value_name, &read) == S_OK && read.vt == VT_I8 && read.llVal == -7;
    info->Release();
    if (!stored) {
        return 11;
    }

    IUnknown* unknown = nullptr;
    if (service->CreateDevice(GetCurrentProcessId(), &ids[0], &unknown) != S_OK || unknown == nullptr) {
        return 3;
    }
    ICamTovraDevice* device = nullptr;
    const HRESULT queried = unknown->QueryInterface(IID_ICamTovraDevice, reinterpret_cast<void**>(&device));
    unknown->Release();
    if (FAILED(queried)) {
        fwprintf(stderr, L"device_client: QueryInterface(ICamTovraDevice) across processes failed: 0x%08lX\n",
                 static_cast<unsigned long>(queried));
        return first_query_failed;
    }
    GUID set = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
    for (const ULONG size : {4ul, 300ul}) {
        std::vector<unsigned char> sent(size);
        for (ULONG i = 0; i < size; ++i) {
            sent[i] = static_cast<unsigned char>(i * 7 + size);
        }
        if (device->Set(&set, size, nullptr, 0, sent.data(), size) != S_OK) {
            return 5;
        }
        std::vector<unsigned char> read(size);
        ULONG returned = 0;
        if (device->Get(&set, size, nullptr, 0, read.data(), size, &returned) != S_OK || returned != size ||
            read != sent) {
            return 6;
        }
    }
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    ICamTovraStreamChannel* channel = nullptr;
    if (device->CreateStreamChannel(&channel, &format) != S_OK || channel == nullptr) {
        return 7;
    }
    BSTR name = nullptr;
    ULONG frames = 0;
    if (channel->GetBaseData(&name, &frames) != S_OK || name == nullptr ||
        std::wcscmp(name, L"Global\\fake_semaphore") != 0 || frames != 4) {
        return 8;
    }
    SysFreeString(name);

    if (ready_event != nullptr) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_event);
        if (ready == nullptr) {
            return 9;
        }
        SetEvent(ready);
        CloseHandle(ready);
        Sleep(INFINITE); // holds every object until killed
    }
    channel->Release();
    device->Release();
    return 0;
}
// The first camera serves PROPSETID_VIDCAP_VIDEOPROCAMP id 2 with a handler
// that answers minimum -10, maximum 90, default 5, capabilities 3, value 42
// and flags 2, and id 3 not at all.
int run_properties(ICamTovraDiscoverService* service)
{
    DShowDeviceServer_DeviceId ids[4] = {};
    ULONG count = 0;
    if (service->GetDiscoveredDeviceList(ids, 4, &count) != S_OK || count == 0) {
        return 2;
    }
    IUnknown* unknown = nullptr;
    if (service->CreateDevice(GetCurrentProcessId(), &ids[0], &unknown) != S_OK || unknown == nullptr) {
        return 3;
    }
    ICamTovraDevice* device = nullptr;
    const HRESULT queried = unknown->QueryInterface(IID_ICamTovraDevice, reinterpret_cast<void**>(&device));
    unknown->Release();
    if (FAILED(queried)) {
        fwprintf(stderr, L"device_client: QueryInterface(ICamTovraDevice) across processes failed: 0x%08lX\n",
                 static_cast<unsigned long>(queried));
        return first_query_failed;
    }
    GUID set = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
    int result = 0;
    unsigned char record[48];
    for (int i = 0; i < 48; ++i) {
        record[i] = static_cast<unsigned char>(i < 24 ? i * 3 + 1 : 0xCC);
    }
    ULONG returned = 0;
    const std::int32_t expected[6] = {42, 2, 3, -10, 90, 5};
    HRESULT hr = device->Get(&set, 2, nullptr, 0, record, 48, &returned);
    // The caller's KS header in bytes 0-23 comes back as it was sent.
    bool header_kept = true;
    for (int i = 0; i < 24; ++i) {
        header_kept = header_kept && record[i] == static_cast<unsigned char>(i * 3 + 1);
    }
    if (hr != S_OK || returned != 48 || !header_kept || std::memcmp(record + 24, expected, 24) != 0) {
        fwprintf(stderr, L"device_client: Get of the standard record: 0x%08lX, %lu bytes\n",
                 static_cast<unsigned long>(hr), returned);
        result = 20;
    }
    if (result == 0) {
        std::memset(record, 0x5A, sizeof(record));
        const std::int32_t value = 17;
        const std::uint32_t flags = 1;
        std::memcpy(record + 24, &value, 4);
        std::memcpy(record + 28, &flags, 4);
        if (device->Set(&set, 2, nullptr, 0, record, 48) != S_OK) {
            result = 21;
        }
    }
    if (result == 0) {
        hr = device->Get(&set, 2, nullptr, 0, nullptr, 48, &returned);
        if (hr != E_POINTER) {
            fwprintf(stderr, L"device_client: Get without a buffer: 0x%08lX\n", static_cast<unsigned long>(hr));
            result = 22;
        }
    }
    ULONG support = 0;
    if (result == 0 && (device->QuerySupported(&set, 2, &support) != S_OK || support != 3 ||
                        device->QuerySupported(&set, 3, &support) != E_NOTIMPL)) {
        result = 23;
    }
    device->Release();
    return result;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return ERROR_INVALID_PARAMETER;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    int result = unmarshal_failed;
    if (ICamTovraDiscoverService* service = unmarshal(from_hex(argv[1]))) {
        if (argc > 2 && std::wcscmp(argv[2], L"--properties") == 0) {
            result = run_properties(service);
        } else {
            result = run(service, argc > 2 ? argv[2] : nullptr);
        }
        service->Release();
    }
    CoUninitialize();
    return result;
}
