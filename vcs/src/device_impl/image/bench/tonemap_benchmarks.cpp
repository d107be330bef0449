// Cost of the per-frame tone-mapping step against a plain pass that reads
// every pixel of the same frame once, measured in one run. After the runs a
// table gives each step's time as a multiple of its baseline and the share of
// the curve rebuild.
//
//   build/bench/.../tonemap_benchmarks [--benchmark_min_time=0.5]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_impl/image/tonemap.h"

namespace {

using img::fourcc;

struct family {
    const char* name;
    std::uint32_t fourcc;
};

constexpr family families[] = {
    {"mono8", fourcc("Y800")},   {"mono16", fourcc("Y16 ")},  {"bayer8", fourcc("RGGB")},
    {"bayer16", fourcc("BG16")}, {"packed12", fourcc("GBCP")}, {"packed10", fourcc("BGAp")},
};

struct frame_size {
    int width, height;
};
constexpr frame_size sizes[] = {{640, 480}, {1920, 1080}};

std::int64_t line_bytes(std::uint32_t code, int width)
{
    const std::uint32_t bpp = img::fourcc_bits_per_pixel(code);
    if (bpp == 10) {
        return (width - 1) / 4 * 5 + 5;
    }
    if (bpp == 12) {
        return (width - 1) / 2 * 3 + 3;
    }
    return width * static_cast<std::int64_t>(bpp / 8);
}

// A frame that looks like a scene: a smooth gradient with sensor noise, so
// that consecutive frames differ slightly, as live frames do.
struct frame {
    std::vector<std::uint8_t> bytes;
    img::image_desc desc;

    frame(std::uint32_t code, int width, int height, unsigned seed)
    {
        const std::int64_t stride = line_bytes(code, width);
        bytes.resize(static_cast<std::size_t>(stride * height));
        std::uint32_t noise = 0x9E3779B9u * (seed + 1);
        for (int y = 0; y < height; ++y) {
            for (std::int64_t i = 0; i < stride; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const auto base = static_cast<unsigned>((i * 255 / stride + y * 255 / height) / 2);
                bytes[static_cast<std::size_t>(y * stride + i)] = static_cast<std::uint8_t>(base + (noise >> 29));
            }
        }
        desc = img::image_desc_make(bytes.data(), code, width, height, static_cast<std::int32_t>(stride),
                                    static_cast<std::uint32_t>(bytes.size()));
    }
};

// The baseline: one plain pass that reads every pixel (every byte of the
// packed formats) and adds them up, line by line as a vectorising compiler
// likes it.
void read_every_pixel(benchmark::State& state, family f, frame_size s)
{
    const frame fr(f.fourcc, s.width, s.height, 0);
    const bool words = img::fourcc_bits_per_pixel(f.fourcc) == 16;
    const auto stride = static_cast<std::size_t>(fr.desc.stride);
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (int y = 0; y < s.height; ++y) {
            const std::uint8_t* line = fr.bytes.data() + y * stride;
            std::uint32_t acc = 0;
            if (words) {
                for (std::size_t i = 0; i + 1 < stride; i += 2) {
                    std::uint16_t w;
                    std::memcpy(&w, line + i, 2);
                    acc += w;
                }
            } else {
                for (std::size_t i = 0; i < stride; ++i) {
                    acc += line[i];
                }
            }
            sum += acc;
        }
        benchmark::DoNotOptimize(sum);
    }
}

// Live frames: every frame differs from the one before, so the curve inputs change.
void process_live(benchmark::State& state, family f, frame_size s)
{
    const frame a(f.fourcc, s.width, s.height, 1);
    const frame b(f.fourcc, s.width, s.height, 2);
    auto tm = std::make_unique<img::tonemapping_auto_state>();
    cam::tonemap::tonemap_params p;
    p.enable = 1;
    p.intensity = 0.5f;
    p.global_brightness = 0.25f;
    bool odd = false;
    for (auto _ : state) {
        cam::tonemap::process(*tm, (odd = !odd) ? a.desc : b.desc, p);
        benchmark::DoNotOptimize(p.gain);
    }
}

// The same step with the whole 65,536-entry curve rebuilt on every frame,
// composed of the public pieces: what `process` would cost without skipping
// the entries that no sample reads.
void full_rebuild_step(benchmark::State& state, family f, frame_size s)
{
    const frame a(f.fourcc, s.width, s.height, 1);
    const frame b(f.fourcc, s.width, s.height, 2);
    auto tm = std::make_unique<img::tonemapping_auto_state>();
    bool odd = false;
    for (auto _ : state) {
        const img::image_desc& d = (odd = !odd) ? a.desc : b.desc;
        const float mean = cam::tonemap::mean_luminance(d);
        const float key = cam::tonemap::smooth(tm->key_filter, 0.3f);
        cam::tonemap::build_curve_table(tm->table, 0.5f, key, 0.25f, mean);
        const auto r = cam::tonemap::mapped_range(d, tm->table);
        benchmark::DoNotOptimize(cam::tonemap::smooth(tm->hi_filter, r.hi));
        benchmark::DoNotOptimize(cam::tonemap::smooth(tm->lo_filter, r.lo));
    }
}

// A still scene: the same frame again and again.
void process_still(benchmark::State& state, family f, frame_size s)
{
    const frame a(f.fourcc, s.width, s.height, 1);
    auto tm = std::make_unique<img::tonemapping_auto_state>();
    cam::tonemap::tonemap_params p;
    p.enable = 1;
    p.intensity = 0.5f;
    p.global_brightness = 0.25f;
    for (auto _ : state) {
        cam::tonemap::process(*tm, a.desc, p);
        benchmark::DoNotOptimize(p.gain);
    }
}

void build_curve(benchmark::State& state)
{
    auto tm = std::make_unique<img::tonemapping_auto_state>();
    float lum = 0.25f;
    for (auto _ : state) {
        lum = lum < 0.75f ? lum + 0.001f : 0.25f;
        cam::tonemap::build_curve_table(tm->table, 0.5f, 0.3f, 0.25f, lum);
        benchmark::DoNotOptimize(tm->table.entries[1000]);
    }
}

// Collects the mean time per iteration of every run and prints the ratios.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto curve = times_.find("build_curve_table");
        std::printf("\nTimes in microseconds per frame; ratios against the baseline of the same family and size.\n");
        std::printf("%-9s %-10s %9s %11s %9s %9s %10s %10s %10s %12s\n", "family", "size", "baseline", "full-curve",
                    "live", "still", "full/base", "live/base", "still/base", "curve share");
        for (const auto& s : sizes) {
            for (const auto& f : families) {
                const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
                const std::string tail = std::string(f.name) + "/" + size;
                const auto base = times_.find("read_every_pixel/" + tail);
                const auto full = times_.find("full_rebuild_step/" + tail);
                const auto live = times_.find("process_live/" + tail);
                const auto still = times_.find("process_still/" + tail);
                if (base == times_.end() || full == times_.end() || live == times_.end() || still == times_.end()) {
                    continue;
                }
                // Share of the curve rebuild in the step that rebuilds it whole.
                const double share = curve == times_.end() ? 0.0 : curve->second / full->second;
                std::printf("%-9s %-10s %9.1f %11.1f %9.1f %9.1f %10.2f %10.2f %10.2f %11.0f%%\n", f.name,
                            size.c_str(), base->second, full->second, live->second, still->second,
                            full->second / base->second, live->second / base->second, still->second / base->second,
                            100.0 * share);
            }
        }
        if (curve != times_.end()) {
            std::printf("build_curve_table (65,536 entries): %.1f\n", curve->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv)
{
    for (const auto& s : sizes) {
        for (const auto& f : families) {
            const std::string tail =
                std::string(f.name) + "/" + std::to_string(s.width) + "x" + std::to_string(s.height);
            benchmark::RegisterBenchmark(("read_every_pixel/" + tail).c_str(), read_every_pixel, f, s)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("full_rebuild_step/" + tail).c_str(), full_rebuild_step, f, s)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("process_live/" + tail).c_str(), process_live, f, s)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("process_still/" + tail).c_str(), process_still, f, s)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RegisterBenchmark("build_curve_table", build_curve)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
