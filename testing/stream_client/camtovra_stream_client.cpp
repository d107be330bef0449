// Stream client of the running camera service, as a capture application uses
// it: activates CamTovraDiscoverService out of process, lists the cameras
// (with the name their DirectShow filter instance carries), opens the first,
// creates a 640x480 Y800 stream channel, opens the semaphore and the frame
// mappings by name, starts, takes frames, checks header and image pattern of
// the simulated camera, writes the first frames as binary PGM files into the
// folder given on the command line, gives every frame back, pauses, closes
// and prints the frame counters. Before it closes, it starts once more for the
// first frame of a new run: that frame bounds the frames the camera sent
// before the pause, against which the end of the stream is accounted.
//
//   camtovra_stream_client <output folder> [frames (default 120)] [images (default 3)]
//
// Exit code 0 when every check passed; otherwise the step that failed (each
// failure is printed; 16 when the last failure was a step that Wine's COM
// transport failed in every attempt). COM activation and the first calls on a
// new object are tried again only where the transport failed them, never on
// an answer of the service's objects (com_transport.h).

#include <windows.h>
#include <objbase.h>
#include <strmif.h>
#include <uuids.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "camtovra_service.h"
#include "com_transport.h"
#include "frame_accounting.h"
#include "sim_payload.h"

namespace {

enum exit_code : int {
    com_failed = 1,
    activation_failed = 2,
    no_camera = 3,
    open_failed = 4,
    no_format = 5,
    channel_failed = 6,
    names_failed = 7,
    start_failed = 8,
    frame_timeout = 9,
    bad_frame = 10,
    write_failed = 11,
    release_failed = 12,
    frames_lost = 13,
    pause_failed = 14,
    bad_arguments = 15,
    // A step tried again where COM's transport failed it failed so still.
    transport_failed = 16,
};

constexpr std::uint32_t fourcc_y800 = 0x30303859; // "Y800"
constexpr LONG width = 640;
constexpr LONG height = 480;
constexpr std::uint64_t frame_time_100ns = 333333;

template <class T>
class com_ptr {
public:
    com_ptr() = default;
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }
    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    T** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void reset() noexcept
    {
        if (pointer_ != nullptr) {
            pointer_->Release();
            pointer_ = nullptr;
        }
    }

private:
    T* pointer_ = nullptr;
};

struct unique_handle {
    HANDLE handle = nullptr;
    unique_handle() = default;
    explicit unique_handle(HANDLE h) : handle(h) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    ~unique_handle()
    {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
};

struct unique_view {
    const std::uint8_t* view = nullptr;
    explicit unique_view(const void* v) : view(static_cast<const std::uint8_t*>(v)) {}
    unique_view(const unique_view&) = delete;
    unique_view& operator=(const unique_view&) = delete;
    unique_view(unique_view&& other) noexcept : view(other.view) { other.view = nullptr; }
    ~unique_view()
    {
        if (view != nullptr) {
            UnmapViewOfFile(view);
        }
    }
};

int fail(int code, const char* what, HRESULT hr = S_OK)
{
    if (hr != S_OK) {
        std::printf("stream client: %s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    } else {
        std::printf("stream client: %s\n", what);
    }
    return code;
}

std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

std::string narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::wstring read_bag_text(IPropertyBag* bag, const wchar_t* name)
{
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal != nullptr) {
        text = value.bstrVal;
    }
    VariantClear(&value);
    return text;
}

// The friendly names of the video-input filter instances, by the unique key
// of the camera they stand for.
std::map<std::string, std::string> video_input_names()
{
    std::map<std::string, std::string> names;
    com_ptr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(devices.put())))) {
        return names;
    }
    com_ptr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0) != S_OK) {
        return names;
    }
    for (;;) {
        com_ptr<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK) {
            break;
        }
        com_ptr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.put())))) {
            continue;
        }
        const std::wstring key = read_bag_text(bag.get(), L"DeviceUniqueKey");
        if (!key.empty()) {
            names[narrow(key)] = narrow(read_bag_text(bag.get(), L"FriendlyName"));
        }
    }
    return names;
}

bool write_pgm(const std::string& path, const std::uint8_t* image)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    const bool written = std::fprintf(file, "P5\n%ld %ld\n255\n", width, height) > 0 &&
                         std::fwrite(image, 1, pixels, file) == pixels;
    return std::fclose(file) == 0 && written;
}

struct stream_session {
    ICamTovraStreamChannel* channel = nullptr;
    HANDLE semaphore = nullptr;
    std::map<std::uint64_t, unique_view> views; // frame id -> this process's view
    std::uint64_t last_number = 0;
    bool any = false;
    bool unaccounted = false; // a frame missed that no counter explains
    DShowDeviceServer_FrameCountInfo counts{};
    // The demonstration's camera streams for the first time: its first
    // frame is number 0. Every frame missed must be a drop counted for it.
    sim_camera::frame_accounting accounting;

    // Waits for a ready frame; its id, or 0 after ten seconds without one.
    std::uint64_t take()
    {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (GetTickCount64() < deadline) {
            if (WaitForSingleObject(semaphore, 500) != WAIT_OBJECT_0) {
                continue;
            }
            DShowDeviceServer_StreamFrame frame{};
            if (channel->GetReadyFrame(&frame, &counts) == S_OK) {
                return frame.shm_id;
            }
        }
        return 0;
    }

    // Checks a taken frame; its image, or null (the fault printed).
    const std::uint8_t* check(std::uint64_t id, std::uint64_t& number)
    {
        const auto found = views.find(id);
        if (found == views.end()) {
            std::printf("stream client: frame id %llu names no mapping\n", static_cast<unsigned long long>(id));
            return nullptr;
        }
        const std::uint8_t* header = found->second.view;
        const std::uint64_t image_size = static_cast<std::uint64_t>(width) * height;
        const std::uint64_t data_start = load_le(header + 8, 4);
        const std::uint64_t valid = load_le(header + 16, 4);
        number = load_le(header + 20, 8);
        if (load_le(header + 4, 4) != id || data_start < 80 || valid < image_size ||
            load_le(header + 36, 8) != sim_camera::payload_source::pts_of(number)) {
            std::printf("stream client: frame %llu has a wrong header\n", static_cast<unsigned long long>(number));
            return nullptr;
        }
        const std::uint8_t* image = header + data_start;
        std::uint64_t carried = 0;
        std::size_t bad = 0;
        if (!sim_camera::payload_source::check_image({image, image_size}, width, &carried, &bad) || carried != number) {
            std::printf("stream client: frame %llu is wrong at byte %zu\n", static_cast<unsigned long long>(number),
                        bad);
            return nullptr;
        }
        if (any && number <= last_number) {
            std::printf("stream client: frame %llu after %llu\n", static_cast<unsigned long long>(number),
                        static_cast<unsigned long long>(last_number));
            return nullptr;
        }
        if (const std::string fault = accounting.take(number, sim_camera::frame_counters::of(counts));
            !fault.empty()) {
            std::printf("stream client: %s\n", fault.c_str());
            unaccounted = true;
            return nullptr;
        }
        any = true;
        last_number = number;
        return image;
    }

    // After a pause: takes, checks and gives back the frames finished before
    // it that still wait; their count, or -1 (the fault printed, `exit` set).
    int drain(int& exit)
    {
        int drained = 0;
        for (;;) {
            DShowDeviceServer_StreamFrame frame{};
            const HRESULT hr = channel->GetReadyFrame(&frame, &counts);
            if (hr == S_FALSE) {
                return drained;
            }
            std::uint64_t number = 0;
            if (hr != S_OK) {
                exit = fail(bad_frame, "GetReadyFrame after the pause", hr);
                return -1;
            }
            if (check(frame.shm_id, number) == nullptr) {
                exit = unaccounted ? frames_lost : bad_frame;
                return -1;
            }
            if (const HRESULT released = channel->ReleaseFrame(frame.shm_id); released != S_OK) {
                exit = fail(release_failed, "ReleaseFrame", released);
                return -1;
            }
            ++drained;
        }
    }

    // Starts again and takes frames up to the first one of the new run (the
    // camera's frame number restarts with a start; the simulated camera's own
    // count goes on), then pauses: that frame's own count, which the camera
    // began after every frame it sent before. Frames finished before the pause
    // that come first are checked as the stream's. 0 or the exit code.
    int first_of_a_new_run(std::uint64_t& carried, int& taken)
    {
        HRESULT hr = channel->StartStream();
        if (hr != S_OK) {
            return fail(start_failed, "StartStream at the end of the stream", hr);
        }
        for (int tries = 0;; ++tries) {
            const std::uint64_t id = take();
            if (id == 0) {
                return fail(frame_timeout, "no frame within ten seconds after the start");
            }
            const auto found = views.find(id);
            if (found == views.end()) {
                return fail(bad_frame, "a frame id names no mapping");
            }
            const std::uint8_t* header = found->second.view;
            const std::uint64_t number = load_le(header + 20, 8);
            if (number > last_number) {
                if (tries == 20) {
                    return fail(bad_frame, "no frame of a new run after the start");
                }
                std::uint64_t checked = 0;
                if (check(id, checked) == nullptr) {
                    return unaccounted ? frames_lost : bad_frame;
                }
                ++taken;
            } else {
                std::size_t bad = 0;
                const std::uint64_t image_size = static_cast<std::uint64_t>(width) * height;
                const std::uint64_t data_start = load_le(header + 8, 4);
                if (data_start < 80 || !sim_camera::payload_source::check_image({header + data_start, image_size},
                                                                                width, &carried, &bad)) {
                    std::printf("stream client: the first frame of the new run is wrong at byte %zu\n", bad);
                    return bad_frame;
                }
            }
            if ((hr = channel->ReleaseFrame(id)) != S_OK) {
                return fail(release_failed, "ReleaseFrame", hr);
            }
            if (number <= last_number) {
                break;
            }
        }
        if ((hr = channel->PauseStream()) != S_OK) {
            return fail(pause_failed, "PauseStream at the end of the stream", hr);
        }
        return 0;
    }
};

int stream(ICamTovraDevice* device, const std::string& folder, int frames, int images)
{
    using test_support::retry_transport;
    using test_support::transport_step;

    DShowDeviceServer_StreamFormatInfo formats[32] = {};
    ULONG format_count = 0;
    HRESULT hr = device->GetStreamFormatDesc(32, formats, &format_count);
    if (FAILED(hr)) {
        return fail(no_format, "GetStreamFormatDesc", hr);
    }
    const DShowDeviceServer_StreamFormatInfo* chosen = nullptr;
    for (ULONG i = 0; i < format_count && i < 32; ++i) {
        const auto& f = formats[i];
        if (f.MediaTypeFourCC == fourcc_y800 && f.MinDim.cx <= width && f.MaxDim.cx >= width &&
            f.MinDim.cy <= height && f.MaxDim.cy >= height) {
            chosen = &f;
            break;
        }
    }
    if (chosen == nullptr) {
        return fail(no_format, "the camera offers no 640x480 Y800 format");
    }
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = chosen->StreamFormatInfoId;
    format.Dimension = {width, height};
    format.AverageTimePerFrame = frame_time_100ns;
    std::uint64_t rates[64] = {};
    ULONG rate_count = 0;
    if (SUCCEEDED(device->GetStreamFormatFrameRates(&format, 64, rates, &rate_count))) {
        std::printf("Format %u: Y800 640x480, %lu frame rates, fastest %.1f fps\n", format.StreamFormatInfoId,
                    static_cast<unsigned long>(rate_count), rate_count > 0 && rates[0] > 0 ? 1e7 / rates[0] : 0.0);
    }

    stream_session session;
    com_ptr<ICamTovraStreamChannel> channel;
    hr = retry_transport("CreateStreamChannel", transport_step::unmarshal, &IID_ICamTovraStreamChannel,
                         [&] { return device->CreateStreamChannel(channel.put(), &format); });
    if (hr != S_OK || channel.get() == nullptr) {
        return fail(test_support::exit_code_for(transport_failed, channel_failed), "CreateStreamChannel", hr);
    }
    session.channel = channel.get();
    unsigned fourcc = 0;
    SIZE size{};
    unsigned largest = 0;
    hr = channel->GetStreamFormat(&fourcc, &size, &largest);
    if (hr != S_OK || fourcc != fourcc_y800 || size.cx != width || size.cy != height) {
        return fail(channel_failed, "the channel's format is not 640x480 Y800", hr);
    }

    BSTR name = nullptr;
    ULONG buffers = 0;
    hr = channel->GetBaseData(&name, &buffers);
    if (hr != S_OK || buffers == 0) {
        return fail(names_failed, "GetBaseData", hr);
    }
    const unique_handle semaphore(OpenSemaphoreW(SYNCHRONIZE, FALSE, name));
    SysFreeString(name);
    if (semaphore.handle == nullptr) {
        return fail(names_failed, "opening the frame semaphore by name");
    }
    session.semaphore = semaphore.handle;
    for (ULONG i = 0; i < buffers; ++i) {
        UINT64 id = 0;
        if ((hr = channel->GetFrameInfo(i, &name, &id)) != S_OK) {
            return fail(names_failed, "GetFrameInfo", hr);
        }
        const unique_handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name));
        SysFreeString(name);
        const void* view = mapping.handle == nullptr ? nullptr : MapViewOfFile(mapping.handle, FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) {
            return fail(names_failed, "opening a frame mapping by name");
        }
        session.views.emplace(id, unique_view(view));
    }
    std::printf("Stream channel: %lu buffers, semaphore and mappings opened by name\n",
                static_cast<unsigned long>(buffers));

    if ((hr = channel->StartStream()) != S_OK) {
        return fail(start_failed, "StartStream", hr);
    }
    std::uint64_t first = 0;
    for (int taken = 0; taken < frames; ++taken) {
        const std::uint64_t id = session.take();
        if (id == 0) {
            return fail(frame_timeout, "no frame within ten seconds");
        }
        std::uint64_t number = 0;
        const std::uint8_t* image = session.check(id, number);
        if (image == nullptr) {
            return session.unaccounted ? frames_lost : bad_frame;
        }
        first = taken == 0 ? number : first;
        if (taken < images) {
            const std::string path = folder + "\\frame_" + std::to_string(number) + ".pgm";
            if (!write_pgm(path, image)) {
                return fail(write_failed, ("writing " + path).c_str());
            }
            std::printf("Wrote %s\n", path.c_str());
        }
        if ((hr = channel->ReleaseFrame(id)) != S_OK) {
            return fail(release_failed, "ReleaseFrame", hr);
        }
    }
    if ((hr = channel->PauseStream()) != S_OK) {
        return fail(pause_failed, "PauseStream", hr);
    }
    int exit = 0;
    const int drained = session.drain(exit);
    if (drained < 0) {
        return exit;
    }
    int taken = frames + drained;
    // The end of the stream: the counters after the pause, the accounting of
    // the last take, and a bound on the frames the camera sent.
    const DShowDeviceServer_FrameCountInfo c = session.counts;
    const sim_camera::frame_accounting at_pause = session.accounting;
    std::uint64_t camera_next = 0;
    if (const int failed = session.first_of_a_new_run(camera_next, taken)) {
        return failed;
    }
    std::printf("Frames: %d taken and checked (numbers %llu to %llu), %llu missed, each counted as dropped\n",
                taken, static_cast<unsigned long long>(first), static_cast<unsigned long long>(session.last_number),
                static_cast<unsigned long long>(session.accounting.missed()));
    std::printf("Counters: delivered %llu, dropped: packet loss %llu, input buffers %llu, client buffers %llu, "
                "filter %llu, other %llu\n",
                static_cast<unsigned long long>(c.frames_delivered),
                static_cast<unsigned long long>(c.frames_dropped_due_to_packet_loss),
                static_cast<unsigned long long>(c.frames_dropped_due_to_input_buffer_starvation),
                static_cast<unsigned long long>(c.frames_dropped_due_to_dshow_buffer_starvation),
                static_cast<unsigned long long>(c.frames_dropped_due_to_filter),
                static_cast<unsigned long long>(c.frames_dropped_due_to_unspecified));
    // The simulated camera loses nothing; frames the client was too slow for
    // are counted apart and are no fault of the stream (each frame taken
    // was checked against them).
    if (c.frames_dropped_due_to_packet_loss != 0 || c.frames_dropped_due_to_input_buffer_starvation != 0 ||
        c.frames_dropped_due_to_unspecified != 0) {
        return fail(frames_lost, "the service dropped frames of the stream");
    }
    if (const std::string fault = at_pause.finish(sim_camera::frame_counters::of(c), camera_next); !fault.empty()) {
        std::printf("stream client: %s\n", fault.c_str());
        return frames_lost;
    }
    return 0;
}

int run(const std::string& folder, int frames, int images)
{
    using test_support::retry_transport;
    using test_support::transport_step;

    com_ptr<ICamTovraDiscoverService> service;
    HRESULT hr = retry_transport("CoCreateInstance(CamTovraDiscoverService)", transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
        return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_ICamTovraDiscoverService, reinterpret_cast<void**>(service.put()));
    });
    if (FAILED(hr)) {
        return fail(test_support::exit_code_for(transport_failed, activation_failed), "CoCreateInstance(CamTovraDiscoverService)",
                    hr);
    }
    DShowDeviceServer_DeviceId ids[16] = {};
    ULONG count = 0;
    hr = retry_transport("GetDiscoveredDeviceList", transport_step::first_call, &IID_ICamTovraDiscoverService,
                         [&] { return service->GetDiscoveredDeviceList(ids, 16, &count); });
    // A service that has just started lists its cameras after its first scan:
    // ask again for up to ten seconds.
    for (const ULONGLONG deadline = GetTickCount64() + 10000;
         SUCCEEDED(hr) && count == 0 && GetTickCount64() < deadline;) {
        Sleep(100);
        hr = service->GetDiscoveredDeviceList(ids, 16, &count);
    }
    if (FAILED(hr) || count == 0) {
        return fail(no_camera, "the service lists no camera", hr);
    }
    const auto names = video_input_names();
    std::printf("Cameras: %lu\n", static_cast<unsigned long>(count));
    for (ULONG i = 0; i < count && i < 16; ++i) {
        const std::string key(ids[i].UniqueKey, strnlen(ids[i].UniqueKey, sizeof(ids[i].UniqueKey)));
        const auto found = names.find(key);
        std::printf("  %s  \"%s\"\n", key.c_str(), found != names.end() ? found->second.c_str() : "");
        if (found == names.end()) {
            return fail(no_camera, "the camera has no video-input filter instance");
        }
    }

    com_ptr<IUnknown> unknown;
    hr = retry_transport("CreateDevice", transport_step::unmarshal,
                         [&] { return service->CreateDevice(GetCurrentProcessId(), &ids[0], unknown.put()); });
    if (hr != S_OK || unknown.get() == nullptr) {
        return fail(test_support::exit_code_for(transport_failed, open_failed), "CreateDevice", hr);
    }
    com_ptr<ICamTovraDevice> device;
    hr = retry_transport("QueryInterface(ICamTovraDevice)", transport_step::first_call, &IID_ICamTovraDevice, [&] {
        return unknown->QueryInterface(IID_ICamTovraDevice, reinterpret_cast<void**>(device.put()));
    });
    if (FAILED(hr)) {
        return fail(test_support::exit_code_for(transport_failed, open_failed), "QueryInterface(ICamTovraDevice)", hr);
    }
    std::printf("Opened %s\n", std::string(ids[0].UniqueKey, strnlen(ids[0].UniqueKey, 128)).c_str());
    return stream(device.get(), folder, frames, images);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::printf("usage: camtovra_stream_client <output folder> [frames] [images]\n");
        return bad_arguments;
    }
    const int frames = argc > 2 ? std::atoi(argv[2]) : 120;
    const int images = argc > 3 ? std::atoi(argv[3]) : 3;
    if (frames <= 0 || images < 0 || images > frames) {
        std::printf("stream client: frames must be positive and images between 0 and frames\n");
        return bad_arguments;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return com_failed;
    }
    const int result = run(argv[1], frames, images);
    CoUninitialize();
    std::fflush(stdout);
    return result;
}
