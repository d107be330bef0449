#pragma once
// Values of the camera carried in the narrower types of the page's
// operations: 64-bit integers in the 32-bit ones of ranges and values,
// doubles in the single precision of the service's float records. Every
// conversion here is defined for every input.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

namespace VCDAdapterHelper {

// The nearest 32-bit value: a feature past 32 bits shows at the end of the
// range rather than wrapped (3,000,000,000 is not −1,294,967,296).
constexpr std::int32_t saturate_32(std::int64_t value) noexcept
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// The middle of a range, rounded towards its minimum, for any two ends (a
// feature without bounds spans all 64-bit values).
constexpr std::int64_t middle_of(std::int64_t minimum, std::int64_t maximum) noexcept
{
    return std::midpoint(minimum, maximum);
}
inline double middle_of(double minimum, double maximum) noexcept
{
    return std::midpoint(minimum, maximum);
}

// True when single precision holds the value (finite, at most FLT_MAX).
inline bool fits_single_precision(double value) noexcept
{
    return std::isfinite(value) && std::fabs(value) <= static_cast<double>(FLT_MAX);
}

// True when the value's single-precision image can stand for it: single
// precision holds it (as above) as a normal number. A nonzero value below
// FLT_MIN shows as 0 or a denormal, which is a number of its own.
inline bool single_precision_stands_for(double value) noexcept
{
    return fits_single_precision(value) && std::isnormal(static_cast<float>(value));
}

// The value in single precision; a finite value past its range becomes the
// nearest end (−FLT_MAX or FLT_MAX), infinities and NaN stay what they are.
inline float single_precision(double value) noexcept
{
    if (std::isnan(value)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (std::isinf(value)) {
        return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

} // namespace VCDAdapterHelper
