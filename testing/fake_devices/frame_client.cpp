// Test helper: a client process that takes frames from the camera service's
// shared-memory channel, as a capture filter does. It unmarshals the discover
// service from the hexadecimal marshalling data (first argument), opens the
// first camera, creates a stream channel for format 1 and starts it, gets
// the semaphore and mapping names with GetBaseData and GetFrameInfo, opens
// them by name, and then, by mode (second argument):
//   take <n>      takes n frames, checks header and every image byte in its
//                 own view, gives each back
//   stall <n>     takes 2 frames, stops taking until the semaphore was
//                 signalled 12 times, checks that drops were counted, then
//                 takes n frames as above
//   hold <event>  takes 2 frames, keeps them, signals the event and waits to
//                 be killed
// Exit code 0 on success, otherwise the number of the step that failed.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "announce_started.h"
#include "marshalled_interface.h"
#include "camtovra_service.h"
#include "sim_payload.h"

namespace {
constexpr int unmarshal_failed = 12; // the service could not be reached
constexpr int first_query_failed = 4; // the first query on a new object failed in the transport

std::uint64_t load_le(const unsigned char* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

struct frame_reader {
    ICamTovraStreamChannel* channel = nullptr;
    HANDLE semaphore = nullptr;
    std::map<std::uint64_t, const unsigned char*> views; // frame id -> this process's view
    std::uint32_t width = 0, image = 0;
    std::uint64_t last_number = 0;
    bool any = false;
    DShowDeviceServer_FrameCountInfo counts{};

    // Waits for and takes one frame: its id, or 0 (with `failure` set).
    std::uint64_t take(int& failure)
    {
        for (int waits = 0; waits < 100; ++waits) {
            if (WaitForSingleObject(semaphore, 100) != WAIT_OBJECT_0) {
                continue;
            }
            DShowDeviceServer_StreamFrame frame{};
            if (channel->GetReadyFrame(&frame, &counts) == S_OK) {
                return frame.shm_id;
            }
        }
        failure = 20;
        return 0;
    }
    // Checks header and image of a taken frame; 0 when all is right.
    int check(std::uint64_t id)
    {
        const auto found = views.find(id);
        if (found == views.end()) {
            return 23;
        }
        const unsigned char* h = found->second;
        const std::uint64_t number = load_le(h + 20, 8);
        if (load_le(h + 4, 4) != id || load_le(h + 16, 4) != image || load_le(h + 8, 4) != 4096 ||
            load_le(h + 76, 4) != 0 || load_le(h + 28, 8) != (number & 1) ||
            load_le(h + 36, 8) != sim_camera::payload_source::pts_of(number)) {
            fwprintf(stderr, L"frame_client: frame %llu has a wrong header\n", static_cast<unsigned long long>(id));
            return 21;
        }
        std::uint64_t carried = 0;
        std::size_t bad = 0;
        if (!sim_camera::payload_source::check_image({h + 4096, image}, width, &carried, &bad) || carried != number) {
            fwprintf(stderr, L"frame_client: frame %llu is wrong at byte %zu\n", static_cast<unsigned long long>(number),
                     bad);
            return 22;
        }
        if (any && number <= last_number) {
            return 24;
        }
        any = true;
        last_number = number;
        return 0;
    }
    int take_and_give_back(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            int failure = 0;
            const std::uint64_t id = take(failure);
            if (id == 0) {
                return failure;
            }
            if (const int bad = check(id)) {
                return bad;
            }
            if (channel->ReleaseFrame(id) != S_OK) {
                return 27;
            }
        }
        return 0;
    }
};

int run(ICamTovraDiscoverService* service, const std::wstring& mode, const wchar_t* argument)
{
    DShowDeviceServer_DeviceId ids[2] = {};
    ULONG count = 0;
    if (service->GetDiscoveredDeviceList(ids, 2, &count) != S_OK || count == 0) {
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
        fwprintf(stderr, L"frame_client: QueryInterface(ICamTovraDevice) failed: 0x%08lX\n",
                 static_cast<unsigned long>(queried));
        return test_support::exit_code_for(first_query_failed, test_support::first_query_refused_exit);
    }
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    frame_reader reader;
    if (const HRESULT created = device->CreateStreamChannel(&reader.channel, &format);
        created != S_OK || reader.channel == nullptr) {
        fwprintf(stderr, L"frame_client: CreateStreamChannel failed: 0x%08lX\n", static_cast<unsigned long>(created));
        return 5;
    }
    unsigned fourcc = 0;
    SIZE size{};
    unsigned largest = 0;
    if (reader.channel->GetStreamFormat(&fourcc, &size, &largest) != S_OK || size.cx <= 0) {
        return 6;
    }
    reader.width = static_cast<std::uint32_t>(size.cx);
    reader.image = largest;

    BSTR name = nullptr;
    ULONG frames = 0;
    if (reader.channel->GetBaseData(&name, &frames) != S_OK || frames != 4) {
        return 7;
    }
    reader.semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, name);
    SysFreeString(name);
    if (reader.semaphore == nullptr) {
        return 7;
    }
    for (ULONG i = 0; i < frames; ++i) {
        UINT64 id = 0;
        if (reader.channel->GetFrameInfo(i, &name, &id) != S_OK) {
            return 8;
        }
        HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
        SysFreeString(name);
        const void* view = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) {
            return 8;
        }
        reader.views[id] = static_cast<const unsigned char*>(view); // kept until the process ends
    }
    if (reader.channel->StartStream() != S_OK) {
        return 9;
    }

    int result = 0;
    if (mode == L"take") {
        result = reader.take_and_give_back(_wtoi(argument));
    } else if (mode == L"stall") {
        result = reader.take_and_give_back(2);
        // Stop taking: every frame or counter change still signals.
        for (int signals = 0; result == 0 && signals < 12;) {
            if (WaitForSingleObject(reader.semaphore, 10000) != WAIT_OBJECT_0) {
                result = 20;
            }
            ++signals;
        }
        const std::uint64_t before = reader.last_number;
        if (result == 0) {
            result = reader.take_and_give_back(_wtoi(argument));
        }
        if (result == 0 && reader.counts.frames_dropped_due_to_dshow_buffer_starvation < 3) {
            fwprintf(stderr, L"frame_client: %llu drops counted\n",
                     static_cast<unsigned long long>(reader.counts.frames_dropped_due_to_dshow_buffer_starvation));
            result = 25;
        }
        if (result == 0 && reader.last_number < before + 4) {
            result = 24;
        }
    } else if (mode == L"hold") {
        int failure = 0;
        for (int i = 0; i < 2; ++i) {
            const std::uint64_t id = reader.take(failure);
            if (id == 0) {
                return failure;
            }
        }
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argument);
        if (ready == nullptr) {
            return 26;
        }
        SetEvent(ready);
        CloseHandle(ready);
        Sleep(INFINITE); // holds both frames until killed
    }
    reader.channel->PauseStream();
    reader.channel->Release();
    device->Release();
    CloseHandle(reader.semaphore);
    return result;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    if (argc < 4) {
        return ERROR_INVALID_PARAMETER;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    int result = 0;
    if (ICamTovraDiscoverService* service = test_support::unmarshal<ICamTovraDiscoverService>(
            test_support::from_hex(argv[1]), IID_ICamTovraDiscoverService,
            "CoUnmarshalInterface(ICamTovraDiscoverService)")) {
        result = run(service, argv[2], argv[3]);
        service->Release();
    } else {
        result = test_support::exit_code_for(unmarshal_failed, test_support::unmarshal_refused_exit);
    }
    CoUninitialize();
    return result;
}
