// Node reads and a selector write, each beside a baseline measured in the
// same run: a plain virtual call that copies 8 bytes for the reads, a loop
// over 1,000 virtual invalidations and 100 callbacks for the write.

#include "engine_bench_documents.h"
#include "engine_bench_support.h"

#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"

#include <fmt/format.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>

namespace {

using namespace genicam_bench;

constexpr int selector_dependents = 1000;
constexpr int selector_callbacks = 100;

std::string read_description()
{
    fmt::memory_buffer out;
    fmt::format_to(std::back_inserter(out), "{}", R"(<RegisterDescription ModelName="Bench" VendorName="Bench">
  <Integer Name="Writable"><Value>5</Value></Integer>
  <Integer Name="Impl"><Value>1</Value></Integer>
  <Integer Name="Avail"><Value>1</Value></Integer>
  <Integer Name="Guarded"><pIsImplemented>Impl</pIsImplemented><pIsAvailable>Avail</pIsAvailable><Value>5</Value></Integer>
  <Integer Name="Chain0"><pValue>Chain1</pValue></Integer>
  <Integer Name="Chain1"><pValue>Chain2</pValue></Integer>
  <Integer Name="Chain2"><pValue>Chain3</pValue></Integer>
  <Integer Name="Chain3"><Value>9</Value></Integer>
  <IntReg Name="Cached">
    <Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="Uncached">
    <Address>0x108</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Integer Name="SkA"><Value>5</Value></Integer>
  <Integer Name="SkB"><Value>7</Value></Integer>
  <IntSwissKnife Name="ISK">
    <pVariable Name="A">SkA</pVariable><pVariable Name="B">SkB</pVariable><Constant Name="K">3</Constant>
    <Formula>(A + B * K) &lt;&lt; 1</Formula>
  </IntSwissKnife>
  <Float Name="SkX"><Value>2.25</Value></Float>
  <SwissKnife Name="FSK"><pVariable Name="X">SkX</pVariable><Formula>X * 2.5 + SQRT(X)</Formula></SwissKnife>
  <Integer Name="Selector"><Value>0</Value><Min>0</Min><Max>1</Max></Integer>
)");
    for (int i = 0; i < selector_dependents; ++i) {
        fmt::format_to(std::back_inserter(out),
                       "  <Integer Name=\"Dep{0}\"><pIndex>Selector</pIndex><ValueIndexed Index=\"0\">{0}</ValueIndexed>"
                       "<ValueIndexed Index=\"1\">1</ValueIndexed><ValueDefault>0</ValueDefault></Integer>\n",
                       i);
    }
    fmt::format_to(std::back_inserter(out), "  <Port Name=\"Device\"/>\n</RegisterDescription>\n");
    return fmt::to_string(out);
}

// The document of the read benchmarks, bound to an in-memory port.
struct read_fixture {
    read_fixture() : doc(load_document(read_description()))
    {
        if (!doc)
            return;
        if (GenICam::IPort* device = doc->find_port("Device"))
            device->bind(&port);
        const std::uint32_t stored = 0x1234;
        std::memcpy(port.memory.data() + 0x100, &stored, 4);
        std::memcpy(port.memory.data() + 0x108, &stored, 4);
    }

    template <class Iface>
    Iface* find(std::string_view name) const
    {
        return doc ? dynamic_cast<Iface*>(doc->find_node(name)) : nullptr;
    }

    memory_port port;
    std::unique_ptr<GenICam::impl::genicam_doc> doc;
};

// The floor of a read: one virtual call that copies 8 bytes.
class plain_source {
public:
    virtual ~plain_source() = default;
    virtual void read(void* out) const noexcept { std::memcpy(out, &value_, sizeof value_); }

private:
    std::int64_t value_ = 5;
};

template <class Iface, class Value>
void read_against_virtual_call(benchmark::State& state, std::string_view name, Value expected)
{
    read_fixture fixture;
    Iface* node = fixture.find<Iface>(name);
    if (!node) {
        state.SkipWithError("the node was not built");
        return;
    }
    const auto first = node->get_val(0);
    if (!first || first.value() != expected) {
        state.SkipWithError("the node reads a wrong value");
        return;
    }
    const plain_source source;
    const plain_source* plain = &source;
    benchmark::DoNotOptimize(plain);
    const std::uint64_t port_reads_before = fixture.port.reads;
    const std::uint64_t allocations_before = heap_use::allocations();
    run_against_baseline(
        state, 256,
        [&] {
            auto r = node->get_val(0);
            benchmark::DoNotOptimize(r);
        },
        [&] {
            std::int64_t v;
            plain->read(&v);
            benchmark::DoNotOptimize(v);
        });
    if (state.iterations() > 0) {
        const auto reads = static_cast<double>(state.iterations() * 256);
        state.counters["port_reads_per_read"] = static_cast<double>(fixture.port.reads - port_reads_before) / reads;
        state.counters["allocs_per_read"] = static_cast<double>(heap_use::allocations() - allocations_before) / reads;
    }
}

void BM_read_integer_writable(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "Writable", 5);
}
BENCHMARK(BM_read_integer_writable)->UseManualTime();

void BM_read_integer_guarded(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "Guarded", 5);
}
BENCHMARK(BM_read_integer_guarded)->UseManualTime();

void BM_read_integer_pvalue_chain3(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "Chain0", 9);
}
BENCHMARK(BM_read_integer_pvalue_chain3)->UseManualTime();

void BM_read_intreg_cached(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "Cached", 0x1234);
}
BENCHMARK(BM_read_intreg_cached)->UseManualTime();

void BM_read_intreg_nocache(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "Uncached", 0x1234);
}
BENCHMARK(BM_read_intreg_nocache)->UseManualTime();

void BM_read_int_swissknife(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IInteger>(state, "ISK", 52);
}
BENCHMARK(BM_read_int_swissknife)->UseManualTime();

void BM_read_float_swissknife(benchmark::State& state)
{
    read_against_virtual_call<GenICam::IFloat>(state, "FSK", 2.25 * 2.5 + 1.5);
}
BENCHMARK(BM_read_float_swissknife)->UseManualTime();

// The floor of a selector write: telling each dependent and running the
// callbacks, written plainly.
class plain_dependent {
public:
    virtual ~plain_dependent() = default;
    virtual void invalidate() noexcept { valid_ = false; }

private:
    bool valid_ = true;
};

void BM_write_selector_1000_dependents(benchmark::State& state)
{
    read_fixture fixture;
    auto* selector = fixture.find<GenICam::IInteger>("Selector");
    if (!selector) {
        state.SkipWithError("the selector was not built");
        return;
    }
    std::uint64_t fired = 0;
    for (int i = 0; i < selector_callbacks; ++i) {
        auto* dependent = fixture.find<GenICam::IInteger>(fmt::format("Dep{}", i * (selector_dependents / selector_callbacks)));
        if (!dependent || dependent->register_callback([&fired](GenICam::INode&) { ++fired; })) {
            state.SkipWithError("a dependent was not built or refused its callback");
            return;
        }
    }
    std::vector<std::unique_ptr<plain_dependent>> plain(selector_dependents);
    for (auto& p : plain)
        p = std::make_unique<plain_dependent>();
    std::vector<std::function<void()>> plain_callbacks(selector_callbacks, [&fired] { benchmark::DoNotOptimize(fired); });
    std::int64_t next = 1;
    bool write_failed = false;
    run_against_baseline(
        state, 1,
        [&] {
            write_failed |= static_cast<bool>(selector->set_val(next, 0));
            next ^= 1;
        },
        [&] {
            for (auto& p : plain)
                p->invalidate();
            for (auto& c : plain_callbacks)
                c();
        });
    if (write_failed)
        state.SkipWithError("a selector write failed");
    else if (state.iterations() > 0)
        state.counters["callbacks_per_write"] = static_cast<double>(fired) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_write_selector_1000_dependents)->UseManualTime();

} // namespace
