// The tone curve: entry i = (k * ((1 - w) * i / 65535 + w * a)) ^ key, the
// power evaluated with fixed polynomial approximations of log2 and exp2 so
// that every platform computes the same bits. Entries are computed four at a
// time with SSE2 (every x86-64 processor has it); elsewhere one at a time with
// the same float operations, which gives the same bits.

#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CAMTOVRA_CURVE_SSE2 1
#endif

#include "device_impl/image/tonemap.h"
#include "device_impl/image/tonemap_curve_detail.h"

namespace cam::tonemap {

namespace {

// log2(y) = e + (L - 1) * ((((c0 L + c1) L + c2) L + c3) L + c4) for
// y = L * 2^e, 1 <= L < 2.
constexpr std::uint32_t log2_c[5] = {
    0x3D74552F, //  0.05965155
    0xBEEE7397, // -0.46572563
    0x3FBD96DD, //  1.4811665
    0xC02153F6, // -2.5207496
    0x4038D96C, //  2.8882704
};
// 2^t = (((d0 f + d1) f + d2) f + d3) * 2^n, n = nearest integer to t - 0.5.
constexpr std::uint32_t exp2_d[4] = {
    0x3D9FCB52, // 0.07802452
    0x3E677E26, // 0.22606716
    0x3F322226, // 0.69583356
    0x3F7FFB19, // 0.9999252
};
constexpr std::uint32_t exponent_min = 0xC2FDFFFF; // -126.99999
constexpr std::uint32_t exponent_max = 0x43010000; //  129

// Adding and removing 1.5 * 2^23 rounds a float of magnitude below 2^22 to the
// nearest integer, ties to even, with plain float arithmetic.
constexpr float round_bias = 12582912.0f;

constexpr float f(std::uint32_t bits) noexcept
{
    return std::bit_cast<float>(bits);
}

float clamp_intensity(float intensity) noexcept
{
    if (!(intensity >= -8.0f)) {
        return -8.0f;
    }
    return intensity > 8.0f ? 8.0f : intensity;
}

#ifdef CAMTOVRA_CURVE_SSE2

struct lanes {
    __m128 k, one_minus_w, wa, key;
};

lanes broadcast(const detail::curve_params& c) noexcept
{
    return {_mm_set1_ps(c.k), _mm_set1_ps(c.one_minus_w), _mm_set1_ps(c.wa), _mm_set1_ps(c.key)};
}

// Entries first .. first + 3.
inline __m128 entries4(std::int32_t first, const lanes& c) noexcept
{
    const __m128 i = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(first), _mm_set_epi32(3, 2, 1, 0)));
    const __m128 x = _mm_div_ps(i, _mm_set1_ps(65535.0f));
    const __m128 y = _mm_mul_ps(c.k, _mm_add_ps(_mm_mul_ps(c.one_minus_w, x), c.wa));

    const __m128i bits = _mm_castps_si128(y);
    const __m128 e = _mm_cvtepi32_ps(
        _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF)), _mm_set1_epi32(127)));
    const __m128 l = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F800000)));
    __m128 p = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(f(log2_c[0])), l), _mm_set1_ps(f(log2_c[1])));
    p = _mm_add_ps(_mm_mul_ps(p, l), _mm_set1_ps(f(log2_c[2])));
    p = _mm_add_ps(_mm_mul_ps(p, l), _mm_set1_ps(f(log2_c[3])));
    p = _mm_add_ps(_mm_mul_ps(p, l), _mm_set1_ps(f(log2_c[4])));
    const __m128 log2y = _mm_add_ps(e, _mm_mul_ps(_mm_sub_ps(l, _mm_set1_ps(1.0f)), p));

    __m128 t = _mm_mul_ps(c.key, log2y);
    t = _mm_max_ps(t, _mm_set1_ps(f(exponent_min)));
    t = _mm_min_ps(t, _mm_set1_ps(f(exponent_max)));
    const __m128 bias = _mm_set1_ps(round_bias);
    const __m128 n = _mm_sub_ps(_mm_add_ps(_mm_sub_ps(t, _mm_set1_ps(0.5f)), bias), bias);
    const __m128 fr = _mm_sub_ps(t, n);
    __m128 q = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(f(exp2_d[0])), fr), _mm_set1_ps(f(exp2_d[1])));
    q = _mm_add_ps(_mm_mul_ps(q, fr), _mm_set1_ps(f(exp2_d[2])));
    q = _mm_add_ps(_mm_mul_ps(q, fr), _mm_set1_ps(f(exp2_d[3])));
    const __m128 two_n =
        _mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(_mm_cvttps_epi32(n), _mm_set1_epi32(127)), 23));
    return _mm_mul_ps(q, two_n);
}

#else

// One entry with the operations of the four-lane code, in the same order.
float entry(std::int32_t i, const detail::curve_params& c) noexcept
{
    const float x = static_cast<float>(i) / 65535.0f;
    const float y = c.k * (c.one_minus_w * x + c.wa);
    const auto bits = std::bit_cast<std::uint32_t>(y);
    const auto e = static_cast<float>(static_cast<std::int32_t>((bits >> 23) & 0xFFu) - 127);
    const float l = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
    float p = f(log2_c[0]) * l + f(log2_c[1]);
    p = p * l + f(log2_c[2]);
    p = p * l + f(log2_c[3]);
    p = p * l + f(log2_c[4]);
    const float log2y = e + (l - 1.0f) * p;

    float t = c.key * log2y;
    t = t > f(exponent_min) ? t : f(exponent_min); // as maxps: a NaN becomes the bound
    t = t < f(exponent_max) ? t : f(exponent_max);
    const float n = ((t - 0.5f) + round_bias) - round_bias;
    const float fr = t - n;
    float q = f(exp2_d[0]) * fr + f(exp2_d[1]);
    q = q * fr + f(exp2_d[2]);
    q = q * fr + f(exp2_d[3]);
    const auto exponent = static_cast<std::uint32_t>(static_cast<std::int32_t>(n) + 127) << 23;
    return q * std::bit_cast<float>(exponent);
}

#endif

} // namespace

namespace detail {

curve_params make_curve_params(float intensity, float key, float global_brightness, float lum_avg) noexcept
{
    // exp in double, rounded once: the same float on every C runtime.
    const auto k = static_cast<float>(std::exp(-static_cast<double>(clamp_intensity(intensity))));
    return {k, 1.0f - global_brightness, global_brightness * lum_avg, key};
}

void fill_curve(float* entries, const curve_params& c) noexcept
{
#ifdef CAMTOVRA_CURVE_SSE2
    // Two independent blocks per step keep both chains of the polynomials busy.
    const lanes v = broadcast(c);
    for (std::int32_t i = 0; i < img::tonemap_curve_size; i += 8) {
        const __m128 a = entries4(i, v);
        const __m128 b = entries4(i + 4, v);
        _mm_storeu_ps(entries + i, a);
        _mm_storeu_ps(entries + i + 4, b);
    }
#else
    for (std::int32_t i = 1; i < img::tonemap_curve_size; ++i) {
        entries[i] = entry(i, c);
    }
#endif
    entries[0] = entries[1];
}

void fill_curve_block(float* entries, std::int64_t block, const curve_params& c) noexcept
{
    const auto first = static_cast<std::int32_t>(4 * block);
#ifdef CAMTOVRA_CURVE_SSE2
    _mm_storeu_ps(entries + first, entries4(first, broadcast(c)));
#else
    for (std::int32_t i = first; i < first + 4; ++i) {
        entries[i] = entry(i, c);
    }
#endif
    if (first == 0) {
        entries[0] = entries[1];
    }
}

} // namespace detail

void build_curve_table(img::tonemap_curve_table& table, float intensity, float key, float global_brightness,
                       float lum_avg) noexcept
{
    detail::fill_curve(table.entries, detail::make_curve_params(intensity, key, global_brightness, lum_avg));
    table.intensity = clamp_intensity(intensity);
    table.global_brightness = global_brightness;
    table.lum_avg = lum_avg;
    table.key = key;
}

} // namespace cam::tonemap
