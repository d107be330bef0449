#pragma once
// The value a formula computes with: a signed 64-bit integer or a double,
// told apart by a flag, and the two conversions every operator uses.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace genicam::formula {

struct formula_value {
    std::uint64_t payload = 0; // two's-complement integer or IEEE double bits
    bool is_integer = true;

    static constexpr formula_value from_integer(std::int64_t v) noexcept
    {
        return {static_cast<std::uint64_t>(v), true};
    }
    static formula_value from_double(double v) noexcept { return {std::bit_cast<std::uint64_t>(v), false}; }

    std::int64_t integer() const noexcept { return static_cast<std::int64_t>(payload); }
    double real() const noexcept { return std::bit_cast<double>(payload); }
};

inline constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

// A double that fits the signed 64-bit range converts exactly; anything else
// (NaN, infinities, values from 2^63 up or below -2^63) gives INT64_MIN, so a
// conversion never has undefined behaviour.
inline std::int64_t checked_double_to_int64(double v) noexcept
{
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
        return static_cast<std::int64_t>(v);
    }
    return int64_min;
}

// Rounded to nearest, halves away from zero.
inline std::int64_t round_to_int64(double v) noexcept { return checked_double_to_int64(std::round(v)); }

inline double to_double(formula_value v) noexcept
{
    return v.is_integer ? static_cast<double>(v.integer()) : v.real();
}

inline std::int64_t to_integer(formula_value v) noexcept
{
    return v.is_integer ? v.integer() : round_to_int64(v.real());
}

// Truth of a condition: an integer that is not 0, a double that is not 0.0
// (so NaN is true and -0.0 false).
inline bool is_true(formula_value v) noexcept
{
    return v.is_integer ? v.integer() != 0 : v.real() != 0.0;
}

} // namespace genicam::formula
