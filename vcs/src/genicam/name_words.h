#pragma once
// A name read as two words, possibly overlapping, that together cover names
// of up to sixteen bytes: the first and the last eight bytes, or four, or for
// the shortest names three single bytes. Two names of one length are equal
// exactly when their words are (longer ones must also compare their middle,
// bytes 8 to length - 8). Lookups of element and node names use them to
// hash and compare without a loop over the characters, whose exits are
// branches that the processor mispredicts on names of varying lengths.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace GenICam::impl {

struct name_words {
    std::uint64_t first = 0;
    std::uint64_t last = 0;

    friend constexpr bool operator==(const name_words&, const name_words&) = default;
};

namespace name_words_detail {

template <std::size_t N>
constexpr std::uint64_t load(const char* p) noexcept
{
    if (std::is_constant_evaluated()) {
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < N; ++i) {
            word |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
        }
        return word;
    }
    // The host is little-endian, so this equals the loop above.
    static_assert(std::endian::native == std::endian::little);
    std::conditional_t<N == 8, std::uint64_t, std::uint32_t> word;
    std::memcpy(&word, p, N);
    return word;
}

} // namespace name_words_detail

// Reads only the `length` bytes at `name`.
constexpr name_words words_of(const char* name, std::size_t length) noexcept
{
    using name_words_detail::load;
    if (length >= 8) {
        return {load<8>(name), load<8>(name + length - 8)};
    }
    if (length >= 4) {
        return {load<4>(name), load<4>(name + length - 4)};
    }
    if (length == 0) {
        return {};
    }
    const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(name[i])}; };
    return {byte(0) | byte(length / 2) << 8 | byte(length - 1) << 16, 0};
}

// The length of a zero-terminated name. Names are short: one unaligned
// sixteen-byte load finds the terminator of any name under sixteen bytes with
// no branch that depends on the length. The load stays within the page that
// holds the name, so it cannot fault; it may read bytes past the terminator,
// which are never used (and which the address sanitizer would flag).
#if defined(__SSE2__)
__attribute__((no_sanitize_address)) inline std::size_t terminated_length(const char* name) noexcept
{
    constexpr std::uintptr_t page = 4096;
    if ((reinterpret_cast<std::uintptr_t>(name) & (page - 1)) <= page - 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
        const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        if (zeros != 0) {
            return static_cast<std::size_t>(std::countr_zero(zeros));
        }
    }
    return std::strlen(name);
}
#else
inline std::size_t terminated_length(const char* name) noexcept
{
    return std::strlen(name);
}
#endif

inline std::string_view terminated_view(const char* text) noexcept
{
    return {text, terminated_length(text)};
}

// Whether two names of the same length, with equal words, are equal.
inline bool same_middle(const char* a, const char* b, std::size_t length) noexcept
{
    return length <= 16 || std::memcmp(a + 8, b + 8, length - 16) == 0;
}

} // namespace GenICam::impl
