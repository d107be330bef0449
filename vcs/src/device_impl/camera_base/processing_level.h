#pragma once
// The processing level: the private property view of the processor-feature
// mask that every frame header carries. Platform-free.

#include <cstdint>
#include <optional>

namespace cam {

// 9 for all of 0x1EFF, 8 for 0xEFF, 7 for 0x2FF, 6 for a low byte 0xFF, 5
// for 0x7F, 4 for 0x3F, 3 for 0xF, 2 for bit 0, else 1.
[[nodiscard]] std::int32_t processing_level(std::uint32_t mask) noexcept;

// The mask a level stands for; level 0 restores `detected`. Empty for a
// level outside 0..9.
[[nodiscard]] std::optional<std::uint32_t> processing_mask(std::int32_t level, std::uint32_t detected) noexcept;

} // namespace cam
