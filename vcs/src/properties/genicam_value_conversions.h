#pragma once
// Unit conversions between GenICam feature values and the 32-bit fields of
// property records: saturation at the i32 limits, hundredths, rounding and
// the power-of-two exposure steps of the camera-control set. Nothing here is
// undefined for any input: NaN gives no value, everything else saturates.

#include <cstdint>
#include <optional>

namespace drv_genicam {

// An integer node value in a 32-bit record field.
std::int32_t saturate_i32(std::int64_t value) noexcept;

// Truncated toward zero and saturated; none for NaN.
std::optional<std::int32_t> truncate_to_i32(double value) noexcept;

// Nearest integer, halves away from zero, saturated; none for NaN.
std::optional<std::int32_t> round_to_i32(double value) noexcept;

// value × 100 truncated toward zero (a Gain in hundredths); none for NaN.
std::optional<std::int32_t> to_hundredths(double value) noexcept;

// Exposure time in microseconds to its step: µ (truncated) <= 0 → -14;
// 500 000 < µ < 1 000 000 → 0; 0 < µ <= 500 000 → -k for the smallest k >= 1
// with 1 000 000 / 2^(k+1) < µ (integer division); µ >= 1 000 000 → the
// number of k >= 1 with µ >= 2^k × 1 000 000. None for NaN.
std::optional<std::int32_t> microseconds_to_exposure_step(double microseconds) noexcept;

// Step to microseconds: d < 0 → 1 000 000 / 2^(-d) (integer division, 0 from
// d = -20 down); d >= 0 → 2^d × 1 000 000, as a double (exact while
// representable, the largest finite double beyond). The node decides whether
// the result is in its range.
double exposure_step_to_microseconds(std::int32_t step) noexcept;

} // namespace drv_genicam
