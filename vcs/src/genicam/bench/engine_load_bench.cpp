// Loading descriptions against the floor: the XML library's own in-place
// parse of the same text, measured in the same iterations. Also the heap that
// a load needs per node, at its peak and what the document keeps.

#include "engine_bench_descriptions.h"
#include "engine_bench_documents.h"
#include "engine_bench_support.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace genicam_bench;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::size_t node_count(GenICam::IGenICamDoc& doc)
{
    std::size_t n = 0;
    doc.for_each_node([&](GenICam::INode&) { ++n; });
    return n;
}

// Heap use of one engine load and of one pugixml parse of the same text.
void report_memory(benchmark::State& state, const std::string& xml, std::size_t nodes)
{
    if (nodes == 0)
        return;
    const auto per_node = [&](std::int64_t bytes) { return static_cast<double>(bytes) / static_cast<double>(nodes); };
    {
        const std::int64_t before = heap_use::current();
        heap_use::reset_peak();
        auto doc = load_document(xml);
        state.counters["peak_B_per_node"] = per_node(heap_use::peak() - before);
        state.counters["kept_B_per_node"] = per_node(heap_use::current() - before);
    }
    {
        const std::int64_t before = heap_use::current();
        heap_use::reset_peak();
        std::vector<char> text(xml.begin(), xml.end());
        pugi::xml_document parsed;
        parsed.load_buffer_inplace(text.data(), text.size());
        state.counters["pugixml_B_per_node"] = per_node(heap_use::peak() - before);
    }
}

void load_against_pugixml(benchmark::State& state, bool unresolved)
{
    const auto features = static_cast<std::size_t>(state.range(0));
    const std::string xml = make_description(features, unresolved);
    double engine_seconds = 0;
    double pugixml_seconds = 0;
    std::size_t nodes = 0;
    {
        const quiet_stdout quiet;
        for (auto _ : state) {
            auto start = clock_type::now();
            {
                std::vector<char> text(xml.begin(), xml.end());
                pugi::xml_document parsed;
                benchmark::DoNotOptimize(parsed.load_buffer_inplace(text.data(), text.size()));
                pugixml_seconds += seconds_since(start);
            }
            start = clock_type::now();
            auto doc = std::make_unique<GenICam::impl::genicam_doc>();
            const bool loaded = doc->load_xml(xml.data(), xml.size());
            const double s = seconds_since(start);
            engine_seconds += s;
            state.SetIterationTime(s);
            if (!loaded) {
                state.SkipWithError("the generated description does not load");
                break;
            }
            nodes = node_count(*doc);
        }
    }
    if (state.iterations() == 0 || nodes == 0)
        return;
    const double n = static_cast<double>(state.iterations());
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["ns_per_feature"] = engine_seconds * 1e9 / n / static_cast<double>(features);
    state.counters["pugixml_ms"] = pugixml_seconds * 1e3 / n;
    state.counters["x_pugixml"] = pugixml_seconds > 0 ? engine_seconds / pugixml_seconds : 0.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(xml.size()) * state.iterations());
    report_memory(state, xml, nodes);
}

void BM_load_xml(benchmark::State& state)
{
    load_against_pugixml(state, false);
}
BENCHMARK(BM_load_xml)->Arg(1000)->Arg(5000)->Arg(20000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Every block names two features that do not exist: the engine logs each
// miss while it loads.
void BM_load_xml_unresolved(benchmark::State& state)
{
    load_against_pugixml(state, true);
}
BENCHMARK(BM_load_xml_unresolved)->Arg(5000)->UseManualTime()->Unit(benchmark::kMillisecond);

// find_node against a binary search over a sorted vector of the same names.
void BM_find_node(benchmark::State& state)
{
    const auto doc = load_document(make_description(static_cast<std::size_t>(state.range(0))));
    if (!doc) {
        state.SkipWithError("the generated description does not load");
        return;
    }
    std::vector<std::string> sorted;
    doc->for_each_node([&](GenICam::INode& node) { sorted.emplace_back(node.get_name()); });
    std::sort(sorted.begin(), sorted.end());
    // Looked up in a scattered order that is the same for every run.
    std::vector<std::string> queries = sorted;
    for (std::size_t i = 0; i < queries.size(); ++i)
        std::swap(queries[i], queries[(i * 7919 + 13) % queries.size()]);
    std::size_t next_subject = 0;
    std::size_t next_baseline = 0;
    std::size_t found = 0;
    run_against_baseline(
        state, 256,
        [&] {
            found += doc->find_node(queries[next_subject]) != nullptr;
            next_subject = next_subject + 1 == queries.size() ? 0 : next_subject + 1;
        },
        [&] {
            const std::string& name = queries[next_baseline];
            auto it = std::lower_bound(sorted.begin(), sorted.end(), name);
            benchmark::DoNotOptimize(it);
            next_baseline = next_baseline + 1 == queries.size() ? 0 : next_baseline + 1;
        });
    if (found != static_cast<std::size_t>(state.iterations()) * 256)
        state.SkipWithError("find_node missed a name of the document");
    state.counters["names"] = static_cast<double>(sorted.size());
}
BENCHMARK(BM_find_node)->Arg(20000)->UseManualTime();

} // namespace
