#include "device_impl/image/cpu_features.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace cam::cpu_feature;

TEST(cpu_features, mask_bits_follow_the_cpuid_registers)
{
    const struct {
        std::uint32_t ecx, edx;
        std::uint64_t xcr0;
        std::uint32_t leaf7_ebx, mask;
    } cases[] = {
        {0, 0, 0, 0, base},
        {0, 1u << 23, 0, 0, base | mmx},
        {0, 1u << 25 | 1u << 26, 0, 0, base | sse | sse2},
        {1u << 0 | 1u << 9, 0, 0, 0, base | sse3 | ssse3},
        {1u << 19 | 1u << 20, 0, 0, 0, base | sse4_1 | sse4_2},
        // AVX needs the processor bit, OSXSAVE and both register states in XCR0.
        {1u << 27 | 1u << 28, 0, 0x7, 0, base | avx},
        {1u << 27 | 1u << 28, 0, 0x3, 0, base},
        {1u << 28, 0, 0x7, 0, base},
        {1u << 27, 0, 0x7, 0, base},
        // AVX2 and FMA only with usable AVX.
        {1u << 27 | 1u << 28 | 1u << 12, 0, 0x7, 1u << 5, base | avx | avx2 | fma},
        {1u << 27 | 1u << 12, 0, 0x7, 1u << 5, base},
        {1u << 27 | 1u << 28 | 1u << 12, 0, 0x2, 1u << 5, base},
        // Bits that mean nothing here stay clear.
        {0xFFFFFFFFu & ~(1u << 27), 0xFFFFFFFFu, 0, 0xFFFFFFFFu, base | mmx | sse | sse2 | sse3 | ssse3 | sse4_1 | sse4_2},
    };
    for (const auto& c : cases) {
        cam::cpuid_report r;
        r.leaf1_ecx = c.ecx;
        r.leaf1_edx = c.edx;
        r.xcr0 = c.xcr0;
        r.leaf7_ebx = c.leaf7_ebx;
        EXPECT_EQ(cam::cpu_feature_mask(r), c.mask) << std::hex << c.ecx << " " << c.edx << " " << c.xcr0;
    }
}

#if defined(__x86_64__) || defined(__i386__)
TEST(cpu_features, detected_mask_matches_what_the_processor_reports)
{
    __builtin_cpu_init();
    const struct {
        std::uint32_t bit;
        bool present;
        const char* name;
    } expected[] = {
        {mmx, __builtin_cpu_supports("mmx") != 0, "mmx"},
        {sse, __builtin_cpu_supports("sse") != 0, "sse"},
        {sse2, __builtin_cpu_supports("sse2") != 0, "sse2"},
        {sse3, __builtin_cpu_supports("sse3") != 0, "sse3"},
        {ssse3, __builtin_cpu_supports("ssse3") != 0, "ssse3"},
        {sse4_1, __builtin_cpu_supports("sse4.1") != 0, "sse4.1"},
        {sse4_2, __builtin_cpu_supports("sse4.2") != 0, "sse4.2"},
        {avx, __builtin_cpu_supports("avx") != 0, "avx"},
        {avx2, __builtin_cpu_supports("avx2") != 0, "avx2"},
        {fma, __builtin_cpu_supports("fma") != 0, "fma"},
    };
    const std::uint32_t mask = cam::detect_cpu_features();
    EXPECT_EQ(mask & base, base);
    EXPECT_EQ(mask & (1u << 8), 0u);
    EXPECT_EQ(mask & 0xFFFFF000u, 0u);
    for (const auto& e : expected) {
        EXPECT_EQ((mask & e.bit) != 0, e.present) << e.name;
    }

#ifdef __linux__
    // The kernel's view of the same processor.
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::set<std::string> flags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            for (std::string w; words >> w;) {
                flags.insert(w);
            }
            break;
        }
    }
    if (!flags.empty()) {
        EXPECT_EQ((mask & sse2) != 0, flags.count("sse2") == 1);
        EXPECT_EQ((mask & sse3) != 0, flags.count("pni") == 1);
        EXPECT_EQ((mask & sse4_2) != 0, flags.count("sse4_2") == 1);
        EXPECT_EQ((mask & avx) != 0, flags.count("avx") == 1);
        EXPECT_EQ((mask & avx2) != 0, flags.count("avx2") == 1);
        EXPECT_EQ((mask & fma) != 0, flags.count("fma") == 1);
    }
#endif
}
#endif

TEST(cpu_features, every_thread_sees_the_same_cached_mask)
{
    std::vector<std::uint32_t> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = cam::detect_cpu_features(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const std::uint32_t m : seen) {
        EXPECT_EQ(m, cam::detect_cpu_features());
    }
}

} // namespace
