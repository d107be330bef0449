// The whole frame path under Wine: the simulated camera unthrottled, the
// driver stand-in, the pipe's completion port, reassembly, the shared-memory
// channel, and a client thread that opens the semaphore and the mappings by
// name and takes and gives back frames through the device (not through COM,
// whose calls would be what is measured). Beside it, in the same run, the
// same producer with a callback that queues every read again at once.
//
// Reported per case: bytes/s and frames/s (image bytes), the pipe thread's
// CPU time per frame, and the six frame counters taken during the run.
#include <benchmark/benchmark.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "device_impl/camtovra/device.h"
#include "device_impl/image/image_format.h"
#include "gen_utils/win32_utils.h"
#include "sim_camera_unit.h"

namespace {

struct stream_case {
    std::uint32_t width;
    std::uint32_t height;
    bool full_frame;
};

constexpr std::uint32_t payload_transfer = 16384;

// CPU time (kernel and user) of a thread so far, in microseconds.
double thread_cpu_us(HANDLE thread)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (thread == nullptr || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10.0;
}

struct releaser {
    void operator()(camtovra::device* d) const noexcept { d->release(); }
};

std::wstring name_of(const std::uint8_t* block)
{
    wchar_t name[128];
    std::memcpy(name, block, sizeof(name));
    return std::wstring(name, wcsnlen(name, 128));
}

void report(benchmark::State& state, double image_bytes, double pipe_cpu_us, std::int64_t frames)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(image_bytes * static_cast<double>(frames)));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["pipe_cpu_us/frame"] = frames == 0 ? 0 : pipe_cpu_us / static_cast<double>(frames);
}

// The device streaming to a client that takes and gives back every frame.
void device_stream(benchmark::State& state, stream_case c)
{
    sim_devices::sim_camera_unit unit({c.width, c.height, c.full_frame, 0, false, {}});
    if (!unit.start()) {
        state.SkipWithError("the simulated camera did not start");
        return;
    }
    GUID id{};
    CoCreateGuid(&id);
    std::unique_ptr<camtovra::device, releaser> device(
        new camtovra::device(id, unit.io.device_path(), nullptr, unit.io));

    DShowDeviceServer_StreamFormatInfo formats[16]{};
    std::uint32_t count = 0;
    device->get_stream_format_desc(16, formats, &count);
    DShowDeviceServer_StreamFormat format{};
    bool found = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (formats[i].MediaTypeFourCC == img::fourcc("Y800") &&
            formats[i].MaxDim.cx == static_cast<LONG>(c.width) && formats[i].MaxDim.cy == static_cast<LONG>(c.height)) {
            format.StreamFormatInfoId = formats[i].StreamFormatInfoId;
            format.AverageTimePerFrame = formats[i].MinAvgTimePerFrame;
            found = true;
        }
    }
    format.Dimension = {static_cast<LONG>(c.width), static_cast<LONG>(c.height)};
    if (!found || device->create_stream_channel(&format) != S_OK) {
        state.SkipWithError("no channel for the format");
        return;
    }

    // The client's side: everything opened by name.
    std::uint8_t base[260]{};
    device->get_base_data(base);
    win32::unique_handle semaphore(OpenSemaphoreW(SYNCHRONIZE, FALSE, name_of(base).c_str()));
    std::vector<win32::unique_handle> mappings;
    std::vector<std::shared_ptr<void>> views;
    std::map<std::uint64_t, const std::uint8_t*> by_id;
    for (std::uint32_t i = 0; i < 4; ++i) {
        std::uint8_t info[256]{};
        std::uint64_t frame_id = 0;
        device->get_frame_info(i, info, &frame_id);
        mappings.emplace_back(OpenFileMappingW(FILE_MAP_READ, FALSE, name_of(info).c_str()));
        void* view = mappings.back() ? MapViewOfFile(mappings.back().get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view == nullptr) {
            state.SkipWithError("a mapping could not be opened by name");
            return;
        }
        views.emplace_back(view, [](void* v) { UnmapViewOfFile(v); });
        by_id[frame_id] = static_cast<const std::uint8_t*>(view);
    }
    if (!semaphore || device->start_stream() != S_OK) {
        state.SkipWithError("the stream did not start");
        return;
    }
    DShowDeviceServer_FrameCountInfo counts{};
    std::uint64_t checksum = 0;
    const auto take_one = [&]() -> bool {
        std::uint64_t frame_id = 0;
        for (;;) {
            if (WaitForSingleObject(semaphore.get(), 5000) != WAIT_OBJECT_0) {
                return false;
            }
            if (device->get_ready_frame(&frame_id, &counts) == S_OK) {
                break;
            }
        }
        const std::uint8_t* view = by_id[frame_id];
        checksum += view != nullptr ? view[4096 + 12] : 0; // the client looks at the image
        device->release_frame(frame_id);
        return true;
    };
    for (int i = 0; i < 10; ++i) { // the stream settles
        if (!take_one()) {
            state.SkipWithError("no frames");
            return;
        }
    }
    const auto pipe = device->camera()->endpoint_pipe();
    const HANDLE pipe_thread = pipe ? pipe->thread_handle() : nullptr;
    const DShowDeviceServer_FrameCountInfo before = counts;
    const double cpu_before = thread_cpu_us(pipe_thread);
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (!take_one()) {
            state.SkipWithError("frames stopped");
            break;
        }
        ++frames;
    }
    const double cpu = thread_cpu_us(pipe_thread) - cpu_before;
    benchmark::DoNotOptimize(checksum);
    report(state, static_cast<double>(c.width) * c.height, cpu, frames);
    state.counters["delivered"] = static_cast<double>(counts.frames_delivered - before.frames_delivered);
    state.counters["drop_packet_loss"] =
        static_cast<double>(counts.frames_dropped_due_to_packet_loss - before.frames_dropped_due_to_packet_loss);
    state.counters["drop_input_starvation"] =
        static_cast<double>(counts.frames_dropped_due_to_input_buffer_starvation -
                            before.frames_dropped_due_to_input_buffer_starvation);
    state.counters["drop_client_starvation"] =
        static_cast<double>(counts.frames_dropped_due_to_dshow_buffer_starvation -
                            before.frames_dropped_due_to_dshow_buffer_starvation);
    state.counters["drop_filter"] =
        static_cast<double>(counts.frames_dropped_due_to_filter - before.frames_dropped_due_to_filter);
    state.counters["drop_unspecified"] =
        static_cast<double>(counts.frames_dropped_due_to_unspecified - before.frames_dropped_due_to_unspecified);
    device->pause_stream();
    device->close_stream_channel();
}

// The same producer read by a pipe whose callback queues every read again at
// once: what the driver stand-in and the completion port cost alone.
void requeue_baseline(benchmark::State& state, stream_case c)
{
    sim_devices::sim_camera_unit unit({c.width, c.height, c.full_frame, 0, /*acquiring=*/true, {}});
    if (!unit.start()) {
        state.SkipWithError("the simulated camera did not start");
        return;
    }
    auto file = nox_um::usb_device_handle::open(unit.io.device_path(), unit.io);
    if (!file) {
        state.SkipWithError("the device did not open");
        return;
    }
    nox_um::usb_device_handle handle(std::move(file).value(), unit.io.device_path());
    const std::uint32_t image = c.width * c.height;
    const std::uint32_t transfer = c.full_frame ? image + 512 : payload_transfer;
    std::vector<std::shared_ptr<std::uint8_t>> memory;
    std::vector<cam::frame_wrapper> records(nox_um::pipe::transaction_buffer_count);
    for (auto& r : records) {
        memory.push_back(cam::allocate_frame_memory(cam::frame_header_size + transfer));
        r.id = cam::next_frame_id();
        r.buffer = memory.back().get();
        r.header_size = cam::frame_header_size;
        r.capacity = transfer;
        r.size = cam::frame_header_size + transfer;
    }
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t bytes = 0;
    {
        auto pipe = nox_um::open_endpoint_pipe(handle, 0x81);
        if (!pipe || pipe->set_depth(transfer, 8) || pipe->start()) {
            state.SkipWithError("the pipe did not start");
            return;
        }
        pipe->set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t n, std::int32_t status) {
            {
                std::lock_guard guard(lock);
                // Image bytes only: every payload carries its 12-byte header.
                bytes += status == nox_um::pipe::status_read && n > 12 ? n - 12 : 0;
            }
            changed.notify_one();
            pipe->queue_request(request);
        });
        for (auto& r : records) {
            pipe->queue_request(&r);
        }
        const auto wait_for = [&](std::uint64_t target) {
            std::unique_lock guard(lock);
            return changed.wait_for(guard, std::chrono::seconds(5), [&] { return bytes >= target; });
        };
        std::uint64_t target = 0;
        target += 10ull * image;
        if (!wait_for(target)) {
            state.SkipWithError("no data");
            pipe->stop();
            return;
        }
        const double cpu_before = thread_cpu_us(pipe->thread_handle());
        std::int64_t frames = 0;
        for (auto _ : state) {
            target += image;
            if (!wait_for(target)) {
                state.SkipWithError("data stopped");
                break;
            }
            ++frames;
        }
        const double cpu = thread_cpu_us(pipe->thread_handle()) - cpu_before;
        pipe->stop();
        report(state, image, cpu, frames);
    }
}

void register_all()
{
    const struct {
        const char* name;
        stream_case c;
    } cases[] = {{"1920x1080/payload", {1920, 1080, false}}, {"1920x1080/full_frame", {1920, 1080, true}},
                 {"640x480/payload", {640, 480, false}},     {"640x480/full_frame", {640, 480, true}}};
    for (const auto& k : cases) {
        benchmark::RegisterBenchmark((std::string("device_stream/") + k.name).c_str(), device_stream, k.c)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("requeue_baseline/") + k.name).c_str(), requeue_baseline, k.c)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    return 0;
}
