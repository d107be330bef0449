#pragma once
// Pieces of the curve shared by the full table build and the on-demand
// evaluation in `process`: both compute an entry with the same operations, so
// an entry has the same bits whichever way it was made.

#include <cstdint>

#include "device_impl/image/tonemap.h"

namespace cam::tonemap::detail {

// The curve's inputs reduced to what each entry needs:
// entry i = (k * (one_minus_w * i / 65535 + wa)) ^ key.
struct curve_params {
    float k;
    float one_minus_w;
    float wa;
    float key;
};

[[nodiscard]] curve_params make_curve_params(float intensity, float key, float global_brightness,
                                             float lum_avg) noexcept;

// Entries 0..65535 (entry 0 = entry 1).
void fill_curve(float* entries, const curve_params& c) noexcept;

// Entries 4 * block .. 4 * block + 3 (for block 0, entry 0 = entry 1).
void fill_curve_block(float* entries, std::int64_t block, const curve_params& c) noexcept;

// `mapped_range` over the state's table, computing each block of 4 entries
// that a sample reads and that does not yet hold the current generation.
[[nodiscard]] output_range mapped_range_on_demand(const img::image_desc& image, img::tonemapping_auto_state& state,
                                                  const curve_params& c) noexcept;

// At most how many blocks of the curve `mapped_range` can read in this image:
// no more than it has sample positions, and for the 8-bit formats no more
// than their few distinct curve indices.
[[nodiscard]] std::int64_t range_block_bound(const img::image_desc& image) noexcept;

} // namespace cam::tonemap::detail
