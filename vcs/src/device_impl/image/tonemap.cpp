#include "device_impl/image/tonemap.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "device_impl/image/tonemap_curve_detail.h"

namespace cam::tonemap {

namespace {

// The key sample is the same constant on every frame.
constexpr float key_sample = 0.3f;
constexpr float smoothing = 0.2f;

float clamp_or_low(float value, float low, float high) noexcept
{
    if (!(value >= low)) {
        return low; // below the range, or not a number
    }
    return value > high ? high : value;
}

void write_failure(tonemap_params& params) noexcept
{
    params.gain = 0.0f;
    params.offset = 0.0f;
    params.key = 0.0f;
    params.lum_avg = 0.0f;
}

void start_filter(img::tonemap_filter& filter, float output) noexcept
{
    filter.output = output;
    filter.count = 0;
}

bool same_bits(float a, float b) noexcept
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// A frame that can read at most this many of the curve's 16,384 blocks gets
// only the blocks it reads; one that may read more gets the whole table in
// one vectorised pass, which then costs less.
constexpr std::int64_t on_demand_block_limit = 8192;

// Builds the frame's curve (as far as the frame reads it) and measures the
// range of curve outputs. Entries from an earlier frame are reused only when
// the curve inputs are the same bits, so the range is always that of a curve
// rebuilt for this frame.
output_range curve_and_range(img::tonemapping_auto_state& state, const img::image_desc& image, float intensity,
                             float key, float global_brightness, float mean) noexcept
{
    img::tonemap_curve_table& table = state.table;
    img::tonemap_curve_blocks& blocks = state.blocks;
    const bool same_curve = blocks.generation != 0 && same_bits(table.intensity, intensity) &&
                            same_bits(table.key, key) && same_bits(table.global_brightness, global_brightness) &&
                            same_bits(table.lum_avg, mean);
    if (!same_curve) {
        if (++blocks.generation == 0) {
            std::memset(blocks.stamp, 0, sizeof blocks.stamp);
            blocks.complete_generation = 0;
            blocks.generation = 1;
        }
        table.intensity = intensity;
        table.key = key;
        table.global_brightness = global_brightness;
        table.lum_avg = mean;
    }
    const detail::curve_params curve = detail::make_curve_params(intensity, key, global_brightness, mean);
    if (blocks.complete_generation != blocks.generation &&
        detail::range_block_bound(image) > on_demand_block_limit) {
        detail::fill_curve(table.entries, curve);
        blocks.complete_generation = blocks.generation;
    }
    if (blocks.complete_generation == blocks.generation) {
        return mapped_range(image, table);
    }
    return detail::mapped_range_on_demand(image, state, curve);
}

} // namespace

float smooth(img::tonemap_filter& filter, float sample) noexcept
{
    if (!std::isfinite(sample)) {
        return filter.output;
    }
    if (filter.count <= 0 || filter.count > img::tonemap_window_size) {
        filter.output = sample;
        filter.window[0] = sample;
        filter.count = 1;
        return sample;
    }
    float target = sample;
    if (filter.count < img::tonemap_window_size) {
        filter.window[filter.count++] = sample;
    } else {
        std::memmove(filter.window, filter.window + 1, sizeof(float) * (img::tonemap_window_size - 1));
        filter.window[img::tonemap_window_size - 1] = sample;
        float sorted[img::tonemap_window_size];
        std::copy(std::begin(filter.window), std::end(filter.window), sorted);
        std::nth_element(sorted, sorted + img::tonemap_window_size / 2, sorted + img::tonemap_window_size);
        target = sorted[img::tonemap_window_size / 2];
    }
    filter.output = filter.output + smoothing * (target - filter.output);
    return filter.output;
}

bool process(img::tonemapping_auto_state& state, const img::image_desc& image, tonemap_params& params) noexcept
{
    if (params.enable == 0 || params.hold != 0) {
        return false;
    }
    const float intensity = clamp_or_low(params.intensity, -8.0f, 8.0f);
    const float global_brightness = clamp_or_low(params.global_brightness, 0.0f, 1.0f);

    if (state.initialised == 0) {
        start_filter(state.key_filter, 0.5f);
        start_filter(state.lo_filter, 0.0f);
        start_filter(state.hi_filter, 1.0f);
        state.initialised = 1;
    }

    const float mean = mean_luminance(image);
    if (!(mean >= 0.0f)) {
        write_failure(params);
        return true;
    }
    const float key = smooth(state.key_filter, key_sample);
    const output_range range = curve_and_range(state, image, intensity, key, global_brightness, mean);
    const float hi = smooth(state.hi_filter, range.hi);
    const float lo = smooth(state.lo_filter, range.lo);

    if (hi - lo > 0.0f) {
        params.gain = 1.0f / (hi - lo);
        params.offset = -(params.gain * lo);
        params.key = key;
        params.lum_avg = mean;
    } else {
        write_failure(params);
    }
    return true;
}

} // namespace cam::tonemap
