#include "device_impl/image/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define CAMTOVRA_HAVE_CPUID 1
#endif

namespace cam {

namespace {

struct feature_bit {
    bool in_ecx; // else EDX of leaf 1
    unsigned bit;
    std::uint32_t feature;
};

constexpr feature_bit leaf1_bits[] = {
    {false, 23, cpu_feature::mmx},   {false, 25, cpu_feature::sse},    {false, 26, cpu_feature::sse2},
    {true, 0, cpu_feature::sse3},    {true, 9, cpu_feature::ssse3},    {true, 19, cpu_feature::sse4_1},
    {true, 20, cpu_feature::sse4_2},
};

constexpr std::uint32_t osxsave_bit = 1u << 27;
constexpr std::uint32_t avx_bit = 1u << 28;
constexpr std::uint32_t fma_bit = 1u << 12;
constexpr std::uint32_t avx2_bit = 1u << 5;
constexpr std::uint64_t xcr0_sse_avx_state = 0x6; // XMM and YMM registers saved by the OS

#ifdef CAMTOVRA_HAVE_CPUID
cpuid_report read_cpuid() noexcept
{
    cpuid_report report;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return report;
    }
    report.leaf1_ecx = c;
    report.leaf1_edx = d;
    if ((c & osxsave_bit) != 0) {
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        report.xcr0 = (std::uint64_t{hi} << 32) | lo;
    }
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        report.leaf7_ebx = b;
    }
    return report;
}
#endif

} // namespace

std::uint32_t cpu_feature_mask(const cpuid_report& report) noexcept
{
    std::uint32_t mask = cpu_feature::base;
    for (const auto& f : leaf1_bits) {
        const std::uint32_t reg = f.in_ecx ? report.leaf1_ecx : report.leaf1_edx;
        if ((reg >> f.bit) & 1u) {
            mask |= f.feature;
        }
    }
    const bool avx_usable = (report.leaf1_ecx & osxsave_bit) != 0 && (report.leaf1_ecx & avx_bit) != 0 &&
                            (report.xcr0 & xcr0_sse_avx_state) == xcr0_sse_avx_state;
    if (avx_usable) {
        mask |= cpu_feature::avx;
        if ((report.leaf7_ebx & avx2_bit) != 0) {
            mask |= cpu_feature::avx2;
        }
        if ((report.leaf1_ecx & fma_bit) != 0) {
            mask |= cpu_feature::fma;
        }
    }
    return mask;
}

std::uint32_t detect_cpu_features() noexcept
{
#ifdef CAMTOVRA_HAVE_CPUID
    static const std::uint32_t mask = cpu_feature_mask(read_cpuid());
    return mask;
#else
    return cpu_feature::base;
#endif
}

} // namespace cam
