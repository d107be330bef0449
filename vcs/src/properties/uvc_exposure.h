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

// The exposure value that a set of exponent `d` sends to a control whose
// device range is [min, max]. An exponent inside the range reported for it
// (the exponents of min and max) is taken: its value is brought into
// [min, max], since the power-of-two time of a bound's exponent may lie past
// the bound (max 3000 reports -1, whose value is 5000). Other exponents, and
// every exponent of a range that is no range (min < 0 or min > max), give
// uvc_exposure_from_log2's value for the device to judge.
[[nodiscard]] std::optional<std::uint32_t> uvc_exposure_of_set(std::int32_t d, std::int64_t min,
                                                               std::int64_t max) noexcept;

} // namespace uvc_property
