// Register reads and formula nodes, each beside a floor measured in the same
// run: a cached register read against one virtual call, an uncached one
// against the device port's own read, and a SwissKnife over a register
// against the register read alone. None of them may touch the heap.

#include "engine_bench_support.h"

#include "genicam/genicam_doc.h"
#include "genicam/idevice_port.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"

#include <array>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr std::string_view description = R"(<RegisterDescription ModelName="B" VendorName="B">
  <Port Name="Device"/>
  <IntReg Name="Cached"><Address>0x10</Address><Length>4</Length><Cachable>WriteThrough</Cachable></IntReg>
  <IntReg Name="Uncached"><Address>0x10</Address><Length>4</Length></IntReg>
  <IntSwissKnife Name="Scaled"><pVariable Name="R">Uncached</pVariable><Constant Name="K">3</Constant>
    <Formula>(R * K + 1) &gt;&gt; 1</Formula></IntSwissKnife>
</RegisterDescription>)";

class memory_port final : public GenICam::IDevicePort {
public:
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t) override
    {
        std::memcpy(buffer, memory.data() + address, static_cast<std::size_t>(length));
        return {};
    }
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t) override
    {
        std::memcpy(memory.data() + address, data, static_cast<std::size_t>(length));
        return {};
    }
    std::array<std::uint8_t, 64> memory{};
};

struct bench_document {
    bench_document()
    {
        doc->load_xml(description.data(), description.size(), {});
        device.memory[0x13] = 7;
        (void)doc->find_port("")->bind(&device);
    }
    GenICam::IInteger& node(std::string_view name)
    {
        return *dynamic_cast<GenICam::IInteger*>(doc->find_node(name));
    }
    std::unique_ptr<GenICam::impl::genicam_doc> doc = std::make_unique<GenICam::impl::genicam_doc>();
    memory_port device;
};

class plain_source {
public:
    virtual ~plain_source() = default;
    virtual std::int64_t value() const { return 7; }
};

// Fails the benchmark when the subject used the heap.
template <typename Subject>
void expect_no_heap(benchmark::State& state, Subject&& subject)
{
    const std::int64_t before = genicam_bench::heap_use::current();
    for (int i = 0; i < 100; ++i) {
        subject();
    }
    if (genicam_bench::heap_use::current() != before) {
        state.SkipWithError("the read allocated");
    }
}

void BM_register_read_cached(benchmark::State& state)
{
    bench_document d;
    GenICam::IInteger& reg = d.node("Cached");
    (void)reg.get_val();
    const plain_source plain_object;
    const plain_source* plain = &plain_object;
    benchmark::DoNotOptimize(plain);
    const auto read = [&] {
        auto r = reg.get_val();
        benchmark::DoNotOptimize(r);
    };
    genicam_bench::run_against_baseline(state, 256, read, [&] {
        std::int64_t r = plain->value();
        benchmark::DoNotOptimize(r);
    });
    expect_no_heap(state, read);
    if (reg.get_val().value() != 7) {
        state.SkipWithError("cached read gives a wrong value");
    }
}
BENCHMARK(BM_register_read_cached)->UseManualTime();

void BM_register_read_uncached(benchmark::State& state)
{
    bench_document d;
    GenICam::IInteger& reg = d.node("Uncached");
    GenICam::IDevicePort* port = &d.device;
    benchmark::DoNotOptimize(port);
    const auto read = [&] {
        auto r = reg.get_val();
        benchmark::DoNotOptimize(r);
    };
    genicam_bench::run_against_baseline(state, 256, read, [&] {
        std::uint8_t bytes[4];
        auto r = port->read(0x10, bytes, 4, 0);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(bytes);
    });
    expect_no_heap(state, read);
}
BENCHMARK(BM_register_read_uncached)->UseManualTime();

void BM_swissknife_over_register(benchmark::State& state)
{
    bench_document d;
    GenICam::IInteger& knife = d.node("Scaled");
    GenICam::IInteger& reg = d.node("Uncached");
    const auto read = [&] {
        auto r = knife.get_val();
        benchmark::DoNotOptimize(r);
    };
    genicam_bench::run_against_baseline(state, 256, read, [&] {
        auto r = reg.get_val();
        benchmark::DoNotOptimize(r);
    });
    expect_no_heap(state, read);
    if (knife.get_val().value() != 11) {
        state.SkipWithError("SwissKnife gives a wrong value");
    }
}
BENCHMARK(BM_swissknife_over_register)->UseManualTime();

} // namespace
