// Test helper: a client process of the service streaming from the simulated
// camera through the real active camera device, as a capture filter does. It
// unmarshals the discover service (first argument, hexadecimal marshalling
// data), opens the first camera, reads its format records and frame rates,
// creates a 640x480 Y800 stream channel at 333333 (after one for an unknown
// format id was refused with E_INVALIDARG), opens the semaphore and the
// four mappings by the names the channel gives, starts and takes frames,
// checking every header field (chunk data included) and image byte. Then, by mode (second argument):
//   stream <n>      takes n frames, each frame it missed counted as dropped (exactly,
//                   see frame_accounting); pauses and
//                   starts again three times, taking frames each time; all
//                   four buffers must still circulate; a second channel is
//                   refused while the first streams (E_ACCESSDENIED)
//   unplug <event>  takes 10 frames, signals the event, then waits for the
//                   device-lost event while taking what still comes; then
//                   no frame is ready and requests answer 0x80070651
//   hold <event>    takes 10 frames, signals the event, takes frames until
//                   the event <event>_go is set, then 30 more
//   restream <n>    as stream, from a camera that streamed before: its
//                   numbering goes on, so accounting learns where the
//                   channel's frames start
// Each mode but unplug ends with a pause, a start and the first frame of the
// new run, which bounds what the camera sent before the pause: the end of the
// stream is accounted against it.
// Exit code 0 on success, otherwise the number of the step that failed.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "announce_started.h"
#include "marshalled_interface.h"
#include "camtovra_service.h"
#include "frame_accounting.h"
#include "sim_payload.h"

namespace {
constexpr int unmarshal_failed = 12;  // the service could not be reached
constexpr int first_query_failed = 4; // the first query on a new object failed in the transport
constexpr HRESULT device_gone = static_cast<HRESULT>(0x80070651);
constexpr HRESULT no_format_selected = static_cast<HRESULT>(0x80070490);
constexpr std::uint32_t y800 = 0x30303859;
constexpr std::uint32_t width = 640;
constexpr std::uint32_t height = 480;
constexpr std::uint32_t image_size = width * height;
constexpr std::uint32_t chunk_bytes = sim_camera::payload_source::chunk_bytes;

std::uint64_t load_le(const unsigned char* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

int fail(int step, const char* what, HRESULT hr = S_OK)
{
    std::fprintf(stderr, "camtovra_client: step %d: %s (0x%08lX)\n", step, what, static_cast<unsigned long>(hr));
    return step;
}

struct frame_reader {
    ICamTovraStreamChannel* channel = nullptr;
    HANDLE semaphore = nullptr;
    std::map<std::uint64_t, const unsigned char*> views; // frame id -> this process's view
    std::uint64_t frames = 0, last_number = 0, last_carried = 0, last_block_id = 0;
    bool new_run = false;         // set after a pause and start
    bool restart_counted = false; // new_run was told to the accounting
    DShowDeviceServer_FrameCountInfo counts{};
    // The camera is new: its first frame is number 0.
    sim_camera::frame_accounting accounting;

    // Waits for and takes one frame: its id, or 0.
    std::uint64_t take(DWORD wait_ms = 5000)
    {
        for (int waits = 0; waits < 200; ++waits) {
            if (WaitForSingleObject(semaphore, wait_ms) != WAIT_OBJECT_0) {
                return 0;
            }
            DShowDeviceServer_StreamFrame frame{};
            if (channel->GetReadyFrame(&frame, &counts) == S_OK) {
                return frame.shm_id;
            }
        }
        return 0;
    }
    // Checks header and image of a taken frame; 0 when all is right.
    int check(std::uint64_t id)
    {
        const auto found = views.find(id);
        if (found == views.end()) {
            return fail(23, "a frame id that no mapping has");
        }
        const unsigned char* h = found->second;
        const std::uint64_t number = load_le(h + 20, 8);
        const std::uint64_t start = load_le(h + 8, 4);
        std::uint64_t carried = 0;
        std::size_t bad = 0;
        if (start < 4096 || !sim_camera::payload_source::check_image({h + start, image_size}, width, &carried, &bad)) {
            std::fprintf(stderr, "camtovra_client: frame %llu wrong at byte %zu\n",
                         static_cast<unsigned long long>(number), bad);
            return 22;
        }
        // Chunk frames: bit 2 of the flags, the image's and the block id's
        // trailers after the image, the block id at offset 28.
        const std::uint64_t flags = load_le(h + 76, 4);
        const std::uint64_t block_id = load_le(h + 28, 8);
        if (load_le(h + 4, 4) != id || flags != 4 || load_le(h + 16, 4) != image_size + chunk_bytes ||
            load_le(h + 36, 8) != sim_camera::payload_source::pts_of(carried) ||
            (frames != 0 && block_id <= last_block_id)) {
            std::fprintf(stderr, "camtovra_client: frame %llu: flags %llu, valid %llu, block %llu after %llu\n",
                         static_cast<unsigned long long>(carried), static_cast<unsigned long long>(flags),
                         static_cast<unsigned long long>(load_le(h + 16, 4)),
                         static_cast<unsigned long long>(block_id), static_cast<unsigned long long>(last_block_id));
            return fail(21, "a wrong frame header");
        }
        last_block_id = block_id;
        if (new_run && !restart_counted) {
            // The first frame taken since the start: the accounting allows
            // for what the stop lost.
            restart_counted = true;
            accounting.restart();
        }
        // The camera's own numbering restarts with a start.
        if (frames != 0 && number <= last_number) {
            if (!new_run) {
                return fail(24, "frame numbers do not rise");
            }
            new_run = false;
            restart_counted = false;
            accounting.new_run();
        }
        const std::string unaccounted = accounting.take(carried, sim_camera::frame_counters::of(counts));
        if (!unaccounted.empty()) {
            std::fprintf(stderr, "camtovra_client: %s\n", unaccounted.c_str());
            return 25;
        }
        ++frames;
        last_number = number;
        last_carried = carried;
        return 0;
    }
    int take_and_give_back(int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::uint64_t id = take();
            if (id == 0) {
                return fail(20, "no frame arrived");
            }
            if (const int bad = check(id)) {
                return bad;
            }
            if (const HRESULT hr = channel->ReleaseFrame(id); hr != S_OK) {
                return fail(27, "ReleaseFrame", hr);
            }
        }
        return 0;
    }
    // The end of the stream, once paused: the drops counted at the last take
    // or after it, which no later take checks, against the frames the camera
    // began before the pause. The first frame of a new run bounds those (the
    // simulated camera's own count goes on across a start), so the stream is
    // started once more for it and paused again. 0 when all is accounted for.
    int finish()
    {
        // A frame finished before the pause may still wait: taken and checked.
        DShowDeviceServer_StreamFrame frame{};
        while (channel->GetReadyFrame(&frame, &counts) == S_OK) {
            if (const int bad = check(frame.shm_id)) {
                return bad;
            }
            channel->ReleaseFrame(frame.shm_id);
        }
        const sim_camera::frame_accounting at_pause = accounting;
        const auto counted = sim_camera::frame_counters::of(counts);
        if (const HRESULT hr = channel->StartStream(); hr != S_OK) {
            return fail(36, "StartStream at the end of the stream", hr);
        }
        new_run = true;
        for (int taken = 0; new_run; ++taken) {
            if (taken == 20) {
                return fail(24, "no frame of a new run after the start");
            }
            if (const int bad = take_and_give_back(1)) {
                return bad;
            }
        }
        if (const HRESULT hr = channel->PauseStream(); hr != S_OK) {
            return fail(36, "PauseStream at the end of the stream", hr);
        }
        if (const std::string unaccounted = at_pause.finish(counted, last_carried); !unaccounted.empty()) {
            std::fprintf(stderr, "camtovra_client: %s\n", unaccounted.c_str());
            return 25;
        }
        return 0;
    }
    // Keeps frames until four different buffers are held: all circulate.
    int hold_all_buffers()
    {
        std::set<std::uint64_t> held;
        int result = 0;
        while (result == 0 && held.size() < 4) {
            if (held.size() == 2) {
                accounting.hold(); // the frame path may run out of buffers from now on
            }
            const std::uint64_t id = take();
            result = id == 0 ? fail(28, "fewer than four buffers circulate") : check(id);
            if (result == 0 && !held.insert(id).second) {
                result = fail(28, "a buffer was handed out twice");
            }
        }
        for (const std::uint64_t id : held) {
            channel->ReleaseFrame(id);
        }
        return result;
    }
};

// Opens the first camera and its channel, maps the frames and starts: 0 or the failed step.
int open_stream(ICamTovraDiscoverService* service, ICamTovraDevice*& device, frame_reader& reader)
{
    DShowDeviceServer_DeviceId ids[2] = {};
    ULONG count = 0;
    if (service->GetDiscoveredDeviceList(ids, 2, &count) != S_OK || count == 0) {
        return fail(2, "no camera listed");
    }
    IUnknown* unknown = nullptr;
    if (const HRESULT hr = service->CreateDevice(GetCurrentProcessId(), &ids[0], &unknown); hr != S_OK || !unknown) {
        return fail(3, "CreateDevice", hr);
    }
    const HRESULT queried =
        test_support::first_query(unknown, IID_ICamTovraDevice, &device, "QueryInterface(ICamTovraDevice)");
    unknown->Release();
    if (FAILED(queried)) {
        fail(first_query_failed, "QueryInterface(ICamTovraDevice)", queried);
        return test_support::exit_code_for(first_query_failed, test_support::first_query_refused_exit);
    }
    ULONG formats = 0;
    DShowDeviceServer_StreamFormatInfo probe{};
    if (const HRESULT hr = device->GetStreamFormatDesc(0, &probe, &formats); hr != HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) || formats == 0) {
        return fail(30, "GetStreamFormatDesc with no room", hr);
    }
    std::vector<DShowDeviceServer_StreamFormatInfo> records(formats);
    if (const HRESULT hr = device->GetStreamFormatDesc(formats, records.data(), &formats); hr != S_OK) {
        return fail(30, "GetStreamFormatDesc", hr);
    }
    const DShowDeviceServer_StreamFormatInfo* vga = nullptr;
    for (const auto& f : records) {
        if (f.MediaTypeFourCC == y800 && f.MaxDim.cx == static_cast<LONG>(width) && f.MaxDim.cy == static_cast<LONG>(height)) {
            vga = &f;
        }
    }
    if (vga == nullptr) {
        return fail(31, "no 640x480 Y800 format");
    }
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = vga->StreamFormatInfoId;
    format.Dimension = {static_cast<LONG>(width), static_cast<LONG>(height)};
    format.AverageTimePerFrame = 333333;
    UINT64 intervals[16] = {};
    ULONG rates = 0;
    if (const HRESULT hr = device->GetStreamFormatFrameRates(&format, 16, intervals, &rates); hr != S_OK || rates == 0) {
        return fail(32, "GetStreamFormatFrameRates", hr);
    }
    DShowDeviceServer_StreamFormat current{};
    if (const HRESULT hr = device->GetStreamFormatCurrent(&current); hr != no_format_selected) {
        return fail(33, "GetStreamFormatCurrent before any channel", hr);
    }
    DShowDeviceServer_StreamFormat unknown_format = format;
    unknown_format.StreamFormatInfoId = formats + 100;
    ICamTovraStreamChannel* refused = nullptr;
    if (const HRESULT hr = device->CreateStreamChannel(&refused, &unknown_format);
        hr != E_INVALIDARG || refused != nullptr) {
        return fail(38, "CreateStreamChannel of an unknown format id", hr);
    }
    // The first answer that brings an ICamTovraStreamChannel of the service:
    // tried again only where COM's transport failed its unmarshalling.
    const HRESULT created = test_support::retry_transport(
        "CreateStreamChannel", test_support::transport_step::unmarshal, &IID_ICamTovraStreamChannel,
        [&] { return device->CreateStreamChannel(&reader.channel, &format); });
    if (created != S_OK || !reader.channel) {
        return fail(5, "CreateStreamChannel", created);
    }
    unsigned fourcc = 0;
    SIZE size{};
    unsigned largest = 0;
    if (reader.channel->GetStreamFormat(&fourcc, &size, &largest) != S_OK || fourcc != y800 ||
        size.cx != static_cast<LONG>(width) || size.cy != static_cast<LONG>(height) || largest != image_size) {
        return fail(6, "GetStreamFormat");
    }
    BSTR name = nullptr;
    ULONG frames = 0;
    if (reader.channel->GetBaseData(&name, &frames) != S_OK || frames != 4) {
        return fail(7, "GetBaseData");
    }
    reader.semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, name);
    SysFreeString(name);
    if (reader.semaphore == nullptr) {
        return fail(7, "the semaphore cannot be opened by name");
    }
    for (ULONG i = 0; i < frames; ++i) {
        UINT64 id = 0;
        if (reader.channel->GetFrameInfo(i, &name, &id) != S_OK) {
            return fail(8, "GetFrameInfo");
        }
        HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
        SysFreeString(name);
        const void* view = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) {
            return fail(8, "a mapping cannot be opened by name");
        }
        reader.views[id] = static_cast<const unsigned char*>(view); // kept until the process ends
    }
    UINT64 none = 0;
    if (const HRESULT hr = reader.channel->GetFrameInfo(4, &name, &none); hr != E_INVALIDARG) {
        return fail(8, "GetFrameInfo(4)", hr);
    }
    if (const HRESULT hr = reader.channel->StartStream(); hr != S_OK) {
        return fail(9, "StartStream", hr);
    }
    return 0;
}

int stream(ICamTovraDevice* device, frame_reader& reader, int frames)
{
    if (const int bad = reader.take_and_give_back(frames)) {
        return bad;
    }
    // A client that was descheduled for a moment rightly misses frames; each
    // must have been counted (checked with every frame taken).
    if (reader.counts.frames_delivered < static_cast<std::uint64_t>(frames)) {
        std::fprintf(stderr, "camtovra_client: %d frames taken, %llu delivered\n", frames,
                     static_cast<unsigned long long>(reader.counts.frames_delivered));
        return 25;
    }
    // A second channel is refused while the first streams.
    DShowDeviceServer_StreamFormat current{};
    if (const HRESULT hr = device->GetStreamFormatCurrent(&current); hr != S_OK || current.Dimension.cx != 640) {
        return fail(34, "GetStreamFormatCurrent", hr);
    }
    ICamTovraStreamChannel* second = nullptr;
    if (const HRESULT hr = device->CreateStreamChannel(&second, &current);
        hr != E_ACCESSDENIED || second != nullptr) {
        return fail(35, "a second channel was not refused with E_ACCESSDENIED", hr);
    }
    for (int round = 0; round < 3; ++round) {
        if (const HRESULT hr = reader.channel->PauseStream(); hr != S_OK) {
            return fail(36, "PauseStream", hr);
        }
        if (const HRESULT hr = reader.channel->StartStream(); hr != S_OK) {
            return fail(36, "StartStream again", hr);
        }
        reader.new_run = true;
        if (const int bad = reader.take_and_give_back(10)) {
            return bad;
        }
    }
    if (const int bad = reader.hold_all_buffers()) {
        return bad;
    }
    return 0;
}

int unplug(ICamTovraDevice* device, frame_reader& reader, const wchar_t* ready_name)
{
    BSTR lost_name = nullptr;
    if (device->GetDeviceLostEventName(&lost_name) != S_OK) {
        return fail(40, "GetDeviceLostEventName");
    }
    HANDLE lost = OpenEventW(SYNCHRONIZE, FALSE, lost_name);
    SysFreeString(lost_name);
    if (lost == nullptr) {
        return fail(40, "the device-lost event cannot be opened");
    }
    if (const int bad = reader.take_and_give_back(10)) {
        return bad;
    }
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_name);
    if (ready == nullptr) {
        return fail(26, "the ready event cannot be opened");
    }
    SetEvent(ready);
    CloseHandle(ready);
    // Frames finished before the camera left may still come; give them back.
    const HANDLE waits[2] = {lost, reader.semaphore};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, 30000);
        if (woken == WAIT_OBJECT_0) {
            break;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            return fail(41, "the device-lost event was not set");
        }
        DShowDeviceServer_StreamFrame frame{};
        if (reader.channel->GetReadyFrame(&frame, &reader.counts) == S_OK) {
            reader.channel->ReleaseFrame(frame.shm_id);
        }
    }
    CloseHandle(lost);
    DShowDeviceServer_StreamFrame frame{};
    const HRESULT ready_frame = reader.channel->GetReadyFrame(&frame, &reader.counts);
    if (ready_frame != S_FALSE && ready_frame != device_gone) {
        return fail(42, "GetReadyFrame after the camera left", ready_frame);
    }
    if (const HRESULT hr = reader.channel->StartStream(); hr != device_gone) {
        return fail(43, "StartStream after the camera left", hr);
    }
    unsigned char data[48] = {};
    ULONG returned = 0;
    GUID amp = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
    if (const HRESULT hr = device->Get(&amp, 0, nullptr, 0, data, 48, &returned); hr != device_gone) {
        return fail(44, "Get after the camera left", hr);
    }
    return 0;
}

int hold(frame_reader& reader, const std::wstring& ready_name)
{
    if (const int bad = reader.take_and_give_back(10)) {
        return bad;
    }
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (ready_name + L"_go").c_str());
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_name.c_str());
    if (go == nullptr || ready == nullptr) {
        for (HANDLE opened : {go, ready}) {
            if (opened != nullptr) {
                CloseHandle(opened);
            }
        }
        return fail(26, "the hold events cannot be opened");
    }
    SetEvent(ready);
    CloseHandle(ready);
    int result = 0;
    while (result == 0 && WaitForSingleObject(go, 0) != WAIT_OBJECT_0) {
        result = reader.take_and_give_back(1);
    }
    CloseHandle(go);
    return result != 0 ? result : reader.take_and_give_back(30);
}

int run(ICamTovraDiscoverService* service, const std::wstring& mode, const wchar_t* argument)
{
    ICamTovraDevice* device = nullptr;
    frame_reader reader;
    const bool streams = mode == L"stream" || mode == L"restream";
    if (mode == L"restream") {
        reader.accounting = sim_camera::frame_accounting(std::nullopt);
    }
    int result = open_stream(service, device, reader);
    if (result == 0 && streams) {
        result = stream(device, reader, _wtoi(argument));
    } else if (result == 0 && mode == L"unplug") {
        result = unplug(device, reader, argument);
    } else if (result == 0 && mode == L"hold") {
        result = hold(reader, argument);
    }
    if (reader.channel != nullptr) {
        const HRESULT paused = reader.channel->PauseStream();
        // A camera that left cannot start again to bound what it sent.
        if (result == 0 && mode != L"unplug") {
            result = paused != S_OK ? fail(36, "PauseStream", paused) : reader.finish();
        }
        reader.channel->Release();
    }
    if (result == 0 && streams) {
        DShowDeviceServer_StreamFormat last{};
        if (const HRESULT hr = device->GetStreamFormatCurrent(&last); hr != S_OK || last.Dimension.cy != 480) {
            result = fail(37, "GetStreamFormatCurrent after the channel closed", hr);
        }
    }
    if (device != nullptr) {
        device->Release();
    }
    if (reader.semaphore != nullptr) {
        CloseHandle(reader.semaphore);
    }
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
