#include "device_impl/camera_base/processing_level.h"

#include <gtest/gtest.h>

namespace {

TEST(processing_level, masks_map_to_the_first_level_they_fully_hold)
{
    struct row {
        std::uint32_t mask;
        std::int32_t level;
    } rows[] = {{0x1EFF, 9}, {0x0EFF, 8}, {0x1FFF, 9}, {0x02FF, 7}, {0x06FF, 7}, {0x00FF, 6}, {0x007F, 5},
                {0x003F, 4}, {0x000F, 3}, {0x0007, 2}, {0x0001, 2}, {0x0000, 1}, {0x0FFE, 1},
                // A processor with bit 0 but without SSE2 (bit 3).
                {0x0007 | 0x0010, 2}};
    for (const auto& r : rows) {
        EXPECT_EQ(cam::processing_level(r.mask), r.level) << std::hex << r.mask;
    }
}

TEST(processing_level, levels_give_their_masks_and_zero_restores_the_detected_one)
{
    for (std::int32_t level = 1; level <= 9; ++level) {
        const auto mask = cam::processing_mask(level, 0x0EFF);
        ASSERT_TRUE(mask) << level;
        EXPECT_EQ(cam::processing_level(*mask), level) << level;
    }
    EXPECT_EQ(cam::processing_mask(0, 0x0EFF), 0x0EFFu);
    EXPECT_FALSE(cam::processing_mask(10, 0x0EFF));
    EXPECT_FALSE(cam::processing_mask(-1, 0x0EFF));
}

} // namespace
