#include "device_impl/cam_tovra/processing_mode.h"

#include <algorithm>
#include <initializer_list>

#include "device_impl/image/image_format.h"
#include "device_impl/image/tonemap.h"

namespace cam::impl {
namespace {

bool offers_any(std::span<const std::uint32_t> fourccs, std::initializer_list<std::uint32_t> wanted) noexcept
{
    return std::any_of(fourccs.begin(), fourccs.end(), [&](std::uint32_t f) {
        return std::find(wanted.begin(), wanted.end(), f) != wanted.end();
    });
}

} // namespace

image_processing_mode select_processing_mode(std::span<const std::uint32_t> fourccs) noexcept
{
    using img::fourcc;
    if (offers_any(fourccs, {fourcc("P280"), fourcc("P216"), fourcc("P2CP"), fourcc("P2Cp")})) {
        return image_processing_mode::polarization_other;
    }
    if (offers_any(fourccs, {fourcc("P180")})) {
        return image_processing_mode::polarization_single;
    }
    if (offers_any(fourccs, {fourcc("BY8 "), fourcc("BA81"), fourcc("GBRG"), fourcc("RGGB"), fourcc("GRBG")})) {
        return image_processing_mode::bayer8;
    }
    return image_processing_mode::mono;
}

std::uint8_t select_bayer_pattern(std::span<const std::uint32_t> fourccs) noexcept
{
    using img::fourcc;
    for (const std::uint32_t f : fourccs) {
        if (f == fourcc("P180") || f == fourcc("BA81")) {
            return 0;
        }
        if (f == fourcc("GBRG")) {
            return 1;
        }
        if (f == fourcc("GRBG")) {
            return 2;
        }
        if (f == fourcc("RGGB")) {
            return 3;
        }
    }
    return 0;
}

std::uint32_t device_format_code(image_processing_mode mode) noexcept
{
    switch (mode) {
    case image_processing_mode::bayer8:
        return 4;
    case image_processing_mode::polarization_single:
        return 17;
    case image_processing_mode::polarization_other:
        return 16;
    case image_processing_mode::mono:
    default:
        return 1;
    }
}

bool tone_mapped_format(std::uint32_t f) noexcept
{
    using img::fourcc;
    static constexpr std::uint32_t listed[] = {
        fourcc("Y16 "), fourcc("Y800"), fourcc("BA81"), fourcc("BA16"), fourcc("GB16"),
        fourcc("BG16"), fourcc("RG16"), fourcc("RGGB"), fourcc("GRBG"), fourcc("GBRG"),
        fourcc("Y12P"), fourcc("Y1DP"), fourcc("Y10p"), fourcc("Y12p"),
    };
    return std::find(std::begin(listed), std::end(listed), f) != std::end(listed) ||
           cam::tonemap::supports_format(f);
}

} // namespace cam::impl
