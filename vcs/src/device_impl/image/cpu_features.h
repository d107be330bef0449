#pragma once
// Which x86 instruction-set extensions the processor and the operating system
// offer, as one mask that the image transforms use to choose a vectorised path
// and that every frame header carries.

#include <cstdint>

namespace cam {

namespace cpu_feature {
inline constexpr std::uint32_t base = 1u << 0; // always set
inline constexpr std::uint32_t mmx = 1u << 1;
inline constexpr std::uint32_t sse = 1u << 2;
inline constexpr std::uint32_t sse2 = 1u << 3;
inline constexpr std::uint32_t sse3 = 1u << 4;
inline constexpr std::uint32_t ssse3 = 1u << 5;
inline constexpr std::uint32_t sse4_1 = 1u << 6;
inline constexpr std::uint32_t sse4_2 = 1u << 7;
inline constexpr std::uint32_t avx = 1u << 9; // the processor has it and the OS saves its registers
inline constexpr std::uint32_t avx2 = 1u << 10;
inline constexpr std::uint32_t fma = 1u << 11;
} // namespace cpu_feature

// What the processor reported: CPUID leaf 1 ECX and EDX, XCR0 (read only when
// leaf 1 shows OSXSAVE) and leaf 7 sub-leaf 0 EBX.
struct cpuid_report {
    std::uint32_t leaf1_ecx = 0;
    std::uint32_t leaf1_edx = 0;
    std::uint64_t xcr0 = 0;
    std::uint32_t leaf7_ebx = 0;
};

// The feature mask of a report. AVX2 and FMA count only when AVX is usable.
[[nodiscard]] std::uint32_t cpu_feature_mask(const cpuid_report& report) noexcept;

// The mask of this processor, computed on the first call (thread-safe) and
// cached for the process.
[[nodiscard]] std::uint32_t detect_cpu_features() noexcept;

} // namespace cam
