#pragma once
// Measuring helpers shared by the engine benchmarks.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace genicam_bench {

// Heap use of the whole program (operator new and the XML library's own
// allocations): bytes in use now and the highest value since reset_peak.
struct heap_use {
    static std::int64_t current() noexcept;
    static std::int64_t peak() noexcept;
    static void reset_peak() noexcept;
    // Number of allocations made so far.
    static std::uint64_t allocations() noexcept;
};

// Runs baseline and subject in alternating batches of `batch` calls, so both
// see the same machine state, and reports the subject's time per iteration
// (use with UseManualTime), its items per second, and the counters "ns" and
// "base_ns" (per call) and "x_base": subject time over baseline time.
template <typename Subject, typename Baseline>
void run_against_baseline(benchmark::State& state, std::size_t batch, Subject&& subject, Baseline&& baseline)
{
    using clock = std::chrono::steady_clock;
    double subject_seconds = 0;
    double baseline_seconds = 0;
    std::int64_t items = 0;
    for (auto _ : state) {
        const auto t0 = clock::now();
        for (std::size_t i = 0; i < batch; ++i)
            baseline();
        const auto t1 = clock::now();
        for (std::size_t i = 0; i < batch; ++i)
            subject();
        const auto t2 = clock::now();
        const double b = std::chrono::duration<double>(t1 - t0).count();
        const double s = std::chrono::duration<double>(t2 - t1).count();
        baseline_seconds += b;
        subject_seconds += s;
        state.SetIterationTime(s);
        items += static_cast<std::int64_t>(batch);
    }
    state.SetItemsProcessed(items);
    if (items > 0) {
        state.counters["ns"] = subject_seconds * 1e9 / static_cast<double>(items);
        state.counters["base_ns"] = baseline_seconds * 1e9 / static_cast<double>(items);
        state.counters["x_base"] = baseline_seconds > 0 ? subject_seconds / baseline_seconds : 0.0;
    }
}

} // namespace genicam_bench
