#pragma once
// The processing block of a frame header (bytes 80 to 223): what the
// consumer of the frame needs to process the image the way the service's
// settings ask, written by the camera class on every delivered frame.

#include <array>
#include <cstdint>
#include <optional>

namespace cam::impl {

// The software proc-amp values in use (none: that property is not in use).
struct software_procamp_values {
    std::optional<float> saturation; // header: value / 64
    std::optional<float> hue;        // header: value / 180
    std::optional<std::int32_t> brightness;
    std::optional<std::int32_t> contrast; // header: value * 5
    std::optional<std::int32_t> sharpness;
    std::int32_t denoise_level = 0; // 0 to 25, always written
    std::optional<float> gamma;     // header: value / 100
};

struct processing_block {
    // The image (input stream format).
    std::uint32_t fourcc = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint32_t plane_size = 0;

    std::uint32_t processor_features = 0;
    std::uint32_t max_concurrency = 0; // 0: the default

    // The colour transformation, when that group is in use.
    struct color_matrix {
        bool enable = false;
        std::array<float, 9> coefficients{}; // row-major
    };
    std::optional<color_matrix> color;

    software_procamp_values procamp;

    // Tone mapping, when the tone-mapping state exists.
    struct tone_mapping {
        bool enable = false;
        float intensity = 0;
        float global_brightness = 0;
        // Set for the formats the tone mapping measures.
        std::optional<std::array<float, 4>> factors; // mul, add, pow, lum_avg
    };
    std::optional<tone_mapping> tone;

    bool pattern_fix = false;
    std::uint32_t polarization_mode = 0;
};

inline constexpr std::size_t processing_block_offset = 80;
inline constexpr std::size_t processing_block_end = 224;

// Writes bytes 80 to 223 of `header`, which must hold at least 224 bytes;
// every byte of that range is written.
void write_processing_block(std::uint8_t* header, const processing_block& block) noexcept;

// A colour-matrix coefficient as the header carries it: times 64, rounded to
// nearest, clamped to -128..127 (not a number: 0).
[[nodiscard]] std::int32_t header_coefficient(float value) noexcept;

} // namespace cam::impl
