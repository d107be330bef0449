#include "device_impl/camera_base/processing_level.h"

#include <array>

namespace cam {

namespace {
// Index: level - 1.
constexpr std::array<std::uint32_t, 9> level_masks = {0x0, 0x1, 0xF, 0x3F, 0x7F, 0xFF, 0x2FF, 0xEFF, 0x1EFF};
} // namespace

std::int32_t processing_level(std::uint32_t mask) noexcept
{
    for (std::int32_t level = 9; level >= 2; --level) {
        const std::uint32_t needed = level_masks[static_cast<std::size_t>(level - 1)];
        if ((mask & needed) == needed) {
            return level;
        }
    }
    return 1;
}

std::optional<std::uint32_t> processing_mask(std::int32_t level, std::uint32_t detected) noexcept
{
    if (level == 0) {
        return detected;
    }
    if (level < 1 || level > 9) {
        return std::nullopt;
    }
    return level_masks[static_cast<std::size_t>(level - 1)];
}

} // namespace cam
