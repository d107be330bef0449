#pragma once
// Exposure times of UVC cameras (100-us units) and the base-2 exponents of
// seconds that the standard camera-control exposure property speaks.
// Platform-free.

#include <cstdint>
#include <optional>

namespace uvc_property {

// n <= 0: -14; up to 5000: -k for the smallest k >= 1 with 10000 / 2^(k+1) < n;
// 5001..19999: 0; from 20000: the number of doublings b = 2, 4, 8, ... with
// b * 10000 <= n.
[[nodiscard]] std::int32_t uvc_exposure_to_log2(std::int64_t n) noexcept;

// The exposure value of an exponent: 10000 / 2^-d below 0, else 2^d * 10000,
// computed in 64 bits with bounded shifts. Empty when the result does not fit
// the 4-byte control (d >= 19).
[[nodiscard]] std::optional<std::uint32_t> uvc_exposure_from_log2(std::int32_t d) noexcept;

} // namespace uvc_property
