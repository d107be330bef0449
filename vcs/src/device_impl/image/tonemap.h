#pragma once
// Automatic tone mapping: works out, from the live image of a mono or Bayer
// camera, the gain, offset and key of a compressive curve that the consumer
// of the frame applies. The service measures; it does not change pixels.
//
// Per frame: the mean luminance of a sparse sample grid, a 65,536-entry curve
// built from it, the range of curve outputs over the frame, then temporal
// smoothing of key and range.

#include <cstdint>

#include "device_impl/image/image_format.h"

namespace img {

inline constexpr int tonemap_window_size = 21;
inline constexpr int tonemap_curve_size = 65536;

// Temporal filter: the output moves 20 % of the way towards the newest sample
// (towards the median of the last 21 samples once 21 are held).
struct tonemap_filter {
    float output;
    float window[tonemap_window_size]; // oldest first
    std::int32_t count;                // samples held, 0..21
};

// The curve and the four inputs it was built from.
struct tonemap_curve_table {
    float intensity;
    float global_brightness;
    float lum_avg;
    float key;
    float entries[tonemap_curve_size];
};

// Which parts of the curve table hold the current curve. A frame reads only
// the entries at its samples' indices, so `process` computes the table in
// blocks of 4 entries as they are first read, and not at all while the curve
// inputs stay the same; the results are those of a full rebuild, bit for bit.
struct tonemap_curve_blocks {
    std::uint32_t generation;          // counts curve input changes; 0 before the first curve
    std::uint32_t complete_generation; // every entry belongs to this generation
    std::uint32_t stamp[tonemap_curve_size / 4]; // generation that computed each block
};

// One per camera, created zero-filled (any way of zero-filling will do: the
// record holds no pointers); used only from the thread that delivers the
// camera's frames.
struct tonemapping_auto_state {
    tonemap_filter key_filter;
    tonemap_filter lo_filter;
    tonemap_filter hi_filter;
    std::uint8_t initialised; // the filters hold their start values
    tonemap_curve_table table;
    tonemap_curve_blocks blocks;
};

} // namespace img

namespace cam::tonemap {

// One call's settings (in) and results (out).
struct tonemap_params {
    std::uint8_t enable = 0;         // nothing is computed when 0
    std::uint8_t hold = 0;           // nothing is computed when non-zero
    float intensity = 0.0f;          // clamped to [-8, 8]
    float global_brightness = 0.0f;  // clamped to [0, 1]
    float gain = 0.0f;               // 1 / (hi - lo)
    float offset = 0.0f;             // -lo * gain
    float key = 0.0f;                // exponent of the curve
    float lum_avg = 0.0f;            // mean luminance of the frame, 0..1
};

struct output_range {
    float lo;
    float hi;
};

// True for the mono, Bayer and packed raw formats that the tone mapping reads.
[[nodiscard]] bool supports_format(std::uint32_t fourcc) noexcept;

// The per-frame step. False, with `params` untouched, when enable is 0 or
// hold is set; otherwise true with gain, offset, key and lum_avg written (all
// 0 when the image cannot be measured: unsupported format, too small, a
// stride shorter than a line, no data).
bool process(img::tonemapping_auto_state& state, const img::image_desc& image, tonemap_params& params) noexcept;

// Mean luminance in 0..1 over a grid of one position per 8 x 8 block; -1 for
// an unsupported FOURCC, not a number when no position can be sampled. Only
// whole lines within `buffer_size` are read.
[[nodiscard]] float mean_luminance(const img::image_desc& image) noexcept;

// Smallest and largest v / (v + curve[j]) over the sample grid; (1e6, -1e6)
// when nothing can be sampled.
[[nodiscard]] output_range mapped_range(const img::image_desc& image, const img::tonemap_curve_table& table) noexcept;

// Fills entries 0..65535 with (k * ((1 - w) * i / 65535 + w * a)) ^ key,
// k = exp(-intensity), entry 0 = entry 1, and records the four inputs.
void build_curve_table(img::tonemap_curve_table& table, float intensity, float key, float global_brightness,
                       float lum_avg) noexcept;

// Feeds one sample to a temporal filter and returns its new output. A sample
// that is not a finite number leaves the filter as it was.
float smooth(img::tonemap_filter& filter, float sample) noexcept;

} // namespace cam::tonemap
