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

// Words that stand for a whole name: for one of under sixteen bytes its
// bytes, zero-padded to sixteen, in two words (read_short_text reads a text
// so); for a longer one its first and last eight bytes (words_of), which
// leaves its middle to compare. A short name is read with the two (possibly
// overlapping) loads of words_of, shifted into place: no load leaves the name.
constexpr name_words padded_words(const char* name, std::size_t length) noexcept
{
    using name_words_detail::load;
    if (length >= 16) {
        return words_of(name, length);
    }
    if (length > 8) {
        return {load<8>(name), load<8>(name + length - 8) >> (8 * (16 - length))};
    }
    if (length >= 4) {
        const std::uint64_t high = load<4>(name + length - 4);
        return {load<4>(name) | (high >> (8 * (8 - length)) << 32), 0};
    }
    name_words words;
    for (std::size_t i = 0; i < length; ++i) {
        words.first |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
    }
    return words;
}

// The length of a name of under sixteen bytes without zero bytes, from its
// padded words.
constexpr std::size_t padded_length(const name_words& words) noexcept
{
    return words.last != 0 ? 8 + (std::bit_width(words.last) + 7) / 8 : (std::bit_width(words.first) + 7) / 8;
}

// A zero-terminated text of under sixteen bytes, read with one vector load:
// its length and its bytes, zero-padded to sixteen, as two words. Names and
// texts of a description are mostly that short; this finds their end with no
// loop whose exit the processor would mispredict. False for a longer text, a
// text whose sixteen bytes would cross into the next page (the load could
// fault there) or where vector instructions are not available; the caller
// then reads it byte by byte. Bytes past the terminator are loaded but masked
// off (the address sanitizer, which would flag them, is off here).
struct short_text {
    name_words padded;
    std::size_t length = 0;
};

#if defined(__SSE2__)
__attribute__((no_sanitize_address)) inline bool read_short_text(const char* text, short_text& out) noexcept
{
    constexpr std::uintptr_t page = 4096;
    if ((reinterpret_cast<std::uintptr_t>(text) & (page - 1)) > page - 16) {
        return false;
    }
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
    if (zeros == 0) {
        return false;
    }
    out.length = static_cast<std::size_t>(std::countr_zero(zeros));
    const __m128i places = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i kept = _mm_and_si128(bytes, _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(out.length)), places));
    out.padded.first = static_cast<std::uint64_t>(_mm_cvtsi128_si64(kept));
    out.padded.last = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(kept, kept)));
    return true;
}
#else
inline bool read_short_text(const char*, short_text&) noexcept
{
    return false;
}
#endif

inline std::size_t terminated_length(const char* text) noexcept
{
    short_text read;
    return read_short_text(text, read) ? read.length : std::strlen(text);
}

inline std::string_view terminated_view(const char* text) noexcept
{
    return {text, terminated_length(text)};
}

// A hash of a name's words and length: two independent multiplications, so
// that a lookup's first probe follows the words closely. Every byte of both
// words reaches the top bits of the products: take slots from there.
constexpr std::uint64_t hash_words(const name_words& w, std::size_t length) noexcept
{
    return (w.first ^ length) * 0x9e3779b97f4a7c15ull + w.last * 0xbf58476d1ce4e5b9ull;
}

// Whether two names of the same length, with equal words, are equal.
inline bool same_middle(const char* a, const char* b, std::size_t length) noexcept
{
    return length <= 16 || std::memcmp(a + 8, b + 8, length - 16) == 0;
}

} // namespace GenICam::impl
