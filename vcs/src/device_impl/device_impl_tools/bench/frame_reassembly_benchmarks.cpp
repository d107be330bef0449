// Throughput of the frame path for 1920x1080 Y800 frames (2,073,600 bytes):
// payload mode with 16 KiB, 512 KiB and 4 MiB transfers (each read parsed,
// locked, copied into the frame, the frame completed, delivered and given
// back), and full-frame mode (one read a frame, header stepped over). The
// baseline in the same run memcpys the same bytes in the same chunks. After
// the runs a table gives bytes per second, the ratio to the baseline and the
// frame bytes the path copied per frame byte.
//
//   build/bench/vcs/src/device_impl/device_impl_tools/frame_reassembly_benchmarks

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../tests/fake_frame_path.h"

namespace {

using namespace frame_path_test;

constexpr int width = 1920, height = 1080;
constexpr std::size_t frame_bytes = std::size_t{width} * height;
constexpr std::size_t header_bytes = 12;

struct transfer_size {
    const char* name;
    std::size_t bytes; // 0: full-frame mode
};
constexpr transfer_size transfers[] = {{"16KiB", 16 * 1024}, {"512KiB", 512 * 1024}, {"4MiB", 4 * 1024 * 1024},
                                       {"full_frame", 0}};

// The reads of two frames (FID 0, then FID 1), each a transfer buffer with
// its payload already in place, as the driver leaves them.
struct prepared_reads {
    std::vector<std::unique_ptr<cam::frame_wrapper>> buffers;
    std::vector<std::uint64_t> lengths;
};

prepared_reads prepare(std::size_t transfer)
{
    prepared_reads reads;
    for (std::uint8_t fid = 0; fid < 2; ++fid) {
        std::size_t sent = 0;
        while (sent < frame_bytes) {
            const std::size_t chunk = std::min(transfer - header_bytes, frame_bytes - sent);
            auto buffer = cam::make_frame_buffer(transfer);
            const bool last = sent + chunk == frame_bytes;
            const auto bytes = payload(header_bytes, static_cast<std::uint8_t>(fid | 0x04 | (last ? 0x02 : 0)), sent,
                                       {});
            std::memcpy(buffer->data(), bytes.data(), header_bytes);
            std::memset(buffer->data() + header_bytes, static_cast<int>(sent & 0xFF), chunk);
            reads.buffers.push_back(std::move(buffer));
            reads.lengths.push_back(header_bytes + chunk);
            sent += chunk;
        }
    }
    return reads;
}

void set_counters(benchmark::State& state, std::uint64_t copied)
{
    const double bytes = static_cast<double>(state.iterations()) * frame_bytes;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["copied_per_byte"] = bytes == 0 ? 0.0 : static_cast<double>(copied) / bytes;
}

void payload_path(benchmark::State& state, std::size_t transfer)
{
    fake_host host;
    host.format = {img::fourcc("Y800"), width, height, width, static_cast<std::uint32_t>(frame_bytes), 0};
    fake_sink sink;
    sink.record = false;
    fake_queue queue;
    host.sink = &sink;
    cam::frame_reassembly path(host, queue, cam::frame_transfer_mode::payload);
    sink.path = &path;
    std::vector<std::unique_ptr<cam::frame_wrapper>> frames;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(cam::make_frame_buffer(frame_bytes + 4096));
        path.return_frame(frames.back().get());
    }
    path.reset_stream_state();
    prepared_reads reads = prepare(transfer);
    const std::size_t per_frame = reads.buffers.size() / 2;
    std::size_t next = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < per_frame; ++i) {
            path.on_completion(reads.buffers[next + i].get(), reads.lengths[next + i], 0);
        }
        next = next == 0 ? per_frame : 0;
        queue.queued.clear();
    }
    if (sink.delivered != static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("a frame was not delivered");
    }
    set_counters(state, path.bytes_copied());
}

void full_frame_path(benchmark::State& state)
{
    fake_host host;
    host.format = {img::fourcc("Y800"), width, height, width, static_cast<std::uint32_t>(frame_bytes), 0};
    fake_sink sink;
    sink.record = false;
    fake_queue queue;
    host.sink = &sink;
    cam::frame_reassembly path(host, queue, cam::frame_transfer_mode::full_frame);
    sink.path = &path;
    std::vector<std::unique_ptr<cam::frame_wrapper>> frames;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(cam::make_frame_buffer(frame_bytes + 4096));
        path.return_frame(frames.back().get());
    }
    path.reset_stream_state();
    std::uint8_t fid = 0;
    for (auto _ : state) {
        cam::frame_wrapper* frame = queue.take();
        // The driver wrote header and frame straight into the buffer; only
        // the header bytes are rewritten here.
        const auto bytes = payload(header_bytes, static_cast<std::uint8_t>(fid | 0x06), 1, {});
        std::memcpy(frame->data(), bytes.data(), header_bytes);
        path.on_completion(frame, header_bytes + frame_bytes, 0);
        fid ^= 1;
    }
    if (sink.delivered != static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("a frame was not delivered");
    }
    set_counters(state, path.bytes_copied());
}

// The same bytes in the same chunks, copied with memcpy into one frame.
void memcpy_baseline(benchmark::State& state, std::size_t transfer)
{
    const std::size_t chunk_size = transfer == 0 ? frame_bytes : transfer - header_bytes;
    auto source = cam::make_frame_buffer(frame_bytes + 4096);
    auto target = cam::make_frame_buffer(frame_bytes + 4096);
    std::memset(source->data(), 0x5A, frame_bytes);
    for (auto _ : state) {
        for (std::size_t at = 0; at < frame_bytes; at += chunk_size) {
            const std::size_t n = std::min(chunk_size, frame_bytes - at);
            std::memcpy(target->data() + at, source->data() + at, n);
        }
        benchmark::DoNotOptimize(target->data());
        benchmark::ClobberMemory();
    }
    set_counters(state, static_cast<std::uint64_t>(state.iterations()) * frame_bytes);
}

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                result r;
                r.seconds = run.GetAdjustedRealTime() * 1e-6; // microseconds per frame
                const auto copied = run.counters.find("copied_per_byte");
                r.copied = copied == run.counters.end() ? 0.0 : static_cast<double>(copied->second);
                results_[run.benchmark_name()] = r;
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n1920x1080 Y800 frames; the baseline memcpys the same bytes in the same chunks.\n");
        std::printf("%-12s %14s %14s %10s %16s\n", "transfer", "path GB/s", "memcpy GB/s", "path/base",
                    "copied per byte");
        for (const auto& t : transfers) {
            const auto path = results_.find(std::string("frame_path/") + t.name);
            const auto base = results_.find(std::string("memcpy_baseline/") + t.name);
            if (path == results_.end() || base == results_.end()) {
                continue;
            }
            const double path_rate = frame_bytes / path->second.seconds / 1e9;
            const double base_rate = frame_bytes / base->second.seconds / 1e9;
            std::printf("%-12s %14.2f %14.2f %10.2f %16.3f\n", t.name, path_rate, base_rate, path_rate / base_rate,
                        path->second.copied);
        }
    }

private:
    struct result {
        double seconds = 0;
        double copied = 0;
    };
    std::map<std::string, result> results_;
};

} // namespace

int main(int argc, char** argv)
{
    for (const auto& t : transfers) {
        const std::string name = t.name;
        if (t.bytes == 0) {
            benchmark::RegisterBenchmark(("frame_path/" + name).c_str(), full_frame_path)->Unit(benchmark::kMicrosecond);
        } else {
            benchmark::RegisterBenchmark(("frame_path/" + name).c_str(), payload_path, t.bytes)
                ->Unit(benchmark::kMicrosecond);
        }
        benchmark::RegisterBenchmark(("memcpy_baseline/" + name).c_str(), memcpy_baseline, t.bytes)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
