#pragma once
// A number read from any node: a signed 64-bit integer or a double.

#include <cmath>
#include <cstdint>
#include <limits>

namespace GenICam::impl {

struct eval_number {
    std::int64_t i = 0;
    double d = 0.0;
    bool is_integer = true;

    static eval_number from_int(std::int64_t v) noexcept { return {v, 0.0, true}; }
    static eval_number from_double(double v) noexcept { return {0, v, false}; }
};

// Rounds to the nearest integer, halves away from zero. NaN and values
// outside the 64-bit range have no integer; they give the smallest 64-bit
// value, which any range check with a Min refuses.
inline std::int64_t round_to_int64(double value) noexcept
{
    constexpr double two_pow_63 = 9223372036854775808.0;
    if (!(value >= -two_pow_63 && value < two_pow_63)) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(std::round(value));
}

inline double to_double(const eval_number& n) noexcept
{
    return n.is_integer ? static_cast<double>(n.i) : n.d;
}

inline std::int64_t to_int64(const eval_number& n) noexcept
{
    return n.is_integer ? n.i : round_to_int64(n.d);
}

} // namespace GenICam::impl
