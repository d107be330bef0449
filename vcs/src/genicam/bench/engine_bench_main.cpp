// Entry of the engine benchmarks. Counts heap use so that the load
// benchmarks can report memory per node: operator new is replaced here and
// the XML library is pointed at the same counters.

#include "engine_bench_support.h"

#include <pugixml.hpp>

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace {

std::atomic<std::int64_t> in_use{0};
std::atomic<std::int64_t> peak_use{0};
std::atomic<std::uint64_t> allocation_count{0};

void count(void* p) noexcept
{
    if (!p)
        return;
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
    const auto now = in_use.fetch_add(size, std::memory_order_relaxed) + size;
    auto seen = peak_use.load(std::memory_order_relaxed);
    while (now > seen && !peak_use.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void* counted_alloc(std::size_t size, std::size_t alignment) noexcept
{
    if (size == 0)
        size = 1;
    void* p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(size)
                  : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    count(p);
    return p;
}

void counted_free(void* p) noexcept
{
    if (!p)
        return;
    in_use.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

void* must_alloc(std::size_t size, std::size_t alignment)
{
    void* p = counted_alloc(size, alignment);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* pugi_alloc(std::size_t size)
{
    return counted_alloc(size, alignof(std::max_align_t));
}

} // namespace

namespace genicam_bench {

std::int64_t heap_use::current() noexcept
{
    return in_use.load(std::memory_order_relaxed);
}

std::int64_t heap_use::peak() noexcept
{
    return peak_use.load(std::memory_order_relaxed);
}

void heap_use::reset_peak() noexcept
{
    peak_use.store(in_use.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

std::uint64_t heap_use::allocations() noexcept
{
    return allocation_count.load(std::memory_order_relaxed);
}

} // namespace genicam_bench

void* operator new(std::size_t size) { return must_alloc(size, 0); }
void* operator new[](std::size_t size) { return must_alloc(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return must_alloc(size, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return must_alloc(size, static_cast<std::size_t>(a)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size, 0); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return counted_alloc(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return counted_alloc(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { counted_free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { counted_free(p); }

int main(int argc, char** argv)
{
    // Keep freed memory in the process: otherwise every large block of a load
    // goes back to the system and the next iteration pays its page faults
    // again, which swamps the parsing work being compared.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    pugi::set_memory_management_functions(pugi_alloc, counted_free);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
