#include "properties/genicam_value_conversions.h"

#include <cmath>
#include <limits>

namespace drv_genicam {

namespace {
constexpr double i32_min = static_cast<double>(std::numeric_limits<std::int32_t>::min());
constexpr double i32_max = static_cast<double>(std::numeric_limits<std::int32_t>::max());
constexpr std::int64_t one_second_us = 1000000;

// `value` already integral (or infinite).
std::int32_t saturate_integral(double value) noexcept
{
    if (value <= i32_min) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= i32_max) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}
} // namespace

std::int32_t saturate_i32(std::int64_t value) noexcept
{
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> truncate_to_i32(double value) noexcept
{
    if (std::isnan(value)) {
        return std::nullopt;
    }
    return saturate_integral(std::trunc(value));
}

std::optional<std::int32_t> round_to_i32(double value) noexcept
{
    if (std::isnan(value)) {
        return std::nullopt;
    }
    return saturate_integral(std::round(value));
}

std::optional<std::int32_t> to_hundredths(double value) noexcept
{
    return truncate_to_i32(value * 100.0);
}

std::optional<std::int32_t> microseconds_to_exposure_step(double microseconds) noexcept
{
    if (std::isnan(microseconds)) {
        return std::nullopt;
    }
    const double us = std::trunc(microseconds);
    if (us <= 0.0) {
        return -14;
    }
    if (us < static_cast<double>(one_second_us)) {
        if (us > 500000.0) {
            return 0;
        }
        // 1 000 000 / 2^(k+1) reaches 0 at k = 19, below any µ >= 1: the
        // loop ends by k = 19.
        const auto whole = static_cast<std::int64_t>(us);
        std::int32_t k = 1;
        while ((one_second_us >> (k + 1)) >= whole) {
            ++k;
        }
        return -k;
    }
    // ldexp reaches infinity near k = 1004; only an infinite µ gets that far.
    constexpr std::int32_t most_doublings = 1100;
    std::int32_t count = 0;
    while (count < most_doublings && us >= std::ldexp(static_cast<double>(one_second_us), count + 1)) {
        ++count;
    }
    return count;
}

double exposure_step_to_microseconds(std::int32_t step) noexcept
{
    if (step < 0) {
        if (step <= -20) {
            return 0.0;
        }
        return static_cast<double>(one_second_us >> -step);
    }
    // 2^1000 × 10^6 is still finite; beyond, the largest double stands for
    // "more than any node accepts".
    if (step > 1000) {
        return std::numeric_limits<double>::max();
    }
    return std::ldexp(static_cast<double>(one_second_us), step);
}

} // namespace drv_genicam
