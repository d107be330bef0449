#include "device_impl/cam_tovra/frame_processing_block.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cam::impl {
namespace {

template <typename T>
void put(std::uint8_t* header, std::size_t offset, T value) noexcept
{
    // The header is little-endian, as is every machine this runs on.
    std::memcpy(header + offset, &value, sizeof value);
}

} // namespace

std::int32_t header_coefficient(float value) noexcept
{
    if (std::isnan(value)) {
        return 0;
    }
    const double scaled = std::nearbyint(static_cast<double>(value) * 64.0);
    return static_cast<std::int32_t>(std::clamp(scaled, -128.0, 127.0));
}

void write_processing_block(std::uint8_t* header, const processing_block& b) noexcept
{
    std::memset(header + processing_block_offset, 0, processing_block_end - processing_block_offset);
    put(header, 80, b.fourcc);
    put(header, 84, b.width);
    put(header, 88, b.height);
    put(header, 92, b.stride);
    put(header, 96, b.plane_size);
    put(header, 100, b.processor_features);
    put(header, 104, b.max_concurrency);
    if (b.color) {
        header[109] = b.color->enable ? 1 : 0;
        for (std::size_t i = 0; i < 9; ++i) {
            put(header, 110 + 4 * i, header_coefficient(b.color->coefficients[i]));
        }
    }
    for (std::size_t i = 0; i < 4; ++i) {
        put(header, 147 + 4 * i, 1.0f);
    }
    const software_procamp_values& p = b.procamp;
    put(header, 163, p.saturation ? *p.saturation / 64.0f : 1.0f);
    put(header, 167, p.hue ? *p.hue / 180.0f : 0.0f);
    put(header, 171, p.brightness.value_or(0));
    put(header, 175, p.contrast ? *p.contrast * 5 : 0);
    put(header, 179, p.sharpness.value_or(0));
    put(header, 183, std::clamp(p.denoise_level, 0, 25));
    put(header, 187, p.gamma ? *p.gamma / 100.0f : 1.0f);
    if (b.tone) {
        header[191] = b.tone->enable ? 1 : 0;
        put(header, 193, b.tone->intensity);
        put(header, 197, b.tone->global_brightness);
        if (b.tone->factors) {
            header[192] = 1;
            for (std::size_t i = 0; i < 4; ++i) {
                put(header, 201 + 4 * i, (*b.tone->factors)[i]);
            }
        }
    } else {
        put(header, 193, 1.0f);
        put(header, 197, 0.5f);
    }
    header[219] = b.pattern_fix ? 1 : 0;
    put(header, 220, b.polarization_mode);
}

} // namespace cam::impl
