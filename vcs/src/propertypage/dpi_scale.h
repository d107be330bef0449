#pragma once
// Every length of a page is given in pixels at 96 dots per inch and scaled to
// the screen here, horizontal lengths by its horizontal and vertical lengths
// by its vertical resolution, rounded as MulDiv rounds.

#include <cstdint>

namespace uvc_page {

constexpr int scale_length(int length, int dots_per_inch) noexcept
{
    const std::int64_t product = std::int64_t{length} * dots_per_inch;
    const std::int64_t half = product >= 0 ? 48 : -48;
    return static_cast<int>((product + half) / 96);
}

struct dpi_scale {
    int dpi_x = 96;
    int dpi_y = 96;

    constexpr int x(int length) const noexcept { return scale_length(length, dpi_x); }
    constexpr int y(int length) const noexcept { return scale_length(length, dpi_y); }
};

static_assert(dpi_scale{144, 144}.x(20) == 30 && dpi_scale{}.y(18) == 18);

} // namespace uvc_page
