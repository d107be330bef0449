#include "properties/uvc_exposure.h"

#include <algorithm>
#include <limits>

namespace uvc_property {

namespace {
constexpr std::int64_t one_second = 10000;
}

std::int32_t uvc_exposure_to_log2(std::int64_t n) noexcept
{
    if (n <= 0) {
        return -14;
    }
    if (n <= 5000) {
        std::int32_t k = 1;
        // 10000 >> 14 is 0, below every n >= 1: the loop ends by k = 13.
        while ((one_second >> (k + 1)) >= n) {
            ++k;
        }
        return -k;
    }
    if (n < 2 * one_second) {
        return 0;
    }
    std::int32_t doublings = 0;
    for (std::int64_t b = 2; b * one_second <= n; b *= 2) {
        ++doublings;
    }
    return doublings;
}

std::optional<std::uint32_t> uvc_exposure_from_log2(std::int32_t d) noexcept
{
    if (d < 0) {
        const std::int64_t shift = -static_cast<std::int64_t>(d);
        return static_cast<std::uint32_t>(shift >= 63 ? 0 : one_second >> shift);
    }
    if (d >= 19) {
        return std::nullopt; // 2^19 * 10000 exceeds 32 bits
    }
    return static_cast<std::uint32_t>(one_second << d);
}

std::optional<std::uint32_t> uvc_exposure_of_set(std::int32_t d, std::int64_t min, std::int64_t max) noexcept
{
    const auto value = uvc_exposure_from_log2(d);
    if (!value || min < 0 || min > max || d < uvc_exposure_to_log2(min) || d > uvc_exposure_to_log2(max)) {
        return value;
    }
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(*value, min, max));
}

} // namespace uvc_property
