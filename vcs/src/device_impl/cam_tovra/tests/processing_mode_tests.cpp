// The image-processing mode, Bayer pattern and device-information code that
// a camera's offered formats give.

#include "device_impl/cam_tovra/processing_mode.h"

#include <gtest/gtest.h>

#include <vector>

#include "device_impl/image/image_format.h"

namespace {

using cam::impl::image_processing_mode;
using img::fourcc;

TEST(processing_mode, the_most_specific_offered_format_decides)
{
    struct case_ {
        std::vector<std::uint32_t> formats;
        image_processing_mode mode;
        std::uint32_t code;
        std::uint8_t pattern;
    } cases[] = {
        {{fourcc("Y800")}, image_processing_mode::mono, 1, 0},
        {{}, image_processing_mode::mono, 1, 0},
        {{fourcc("YUY2"), fourcc("Y16 ")}, image_processing_mode::mono, 1, 0},
        {{fourcc("Y800"), fourcc("BA81")}, image_processing_mode::bayer8, 4, 0},
        {{fourcc("GBRG")}, image_processing_mode::bayer8, 4, 1},
        {{fourcc("Y800"), fourcc("GRBG")}, image_processing_mode::bayer8, 4, 2},
        {{fourcc("RGGB"), fourcc("GBRG")}, image_processing_mode::bayer8, 4, 3},
        {{fourcc("BY8 ")}, image_processing_mode::bayer8, 4, 0},
        {{fourcc("BA81"), fourcc("P180")}, image_processing_mode::polarization_single, 17, 0},
        {{fourcc("GRBG"), fourcc("P180")}, image_processing_mode::polarization_single, 17, 2},
        {{fourcc("P180"), fourcc("P2Cp")}, image_processing_mode::polarization_other, 16, 0},
        {{fourcc("P280")}, image_processing_mode::polarization_other, 16, 0},
        {{fourcc("P216")}, image_processing_mode::polarization_other, 16, 0},
        {{fourcc("P2CP")}, image_processing_mode::polarization_other, 16, 0},
    };
    for (const auto& c : cases) {
        const auto mode = cam::impl::select_processing_mode(c.formats);
        EXPECT_EQ(mode, c.mode) << c.formats.size();
        EXPECT_EQ(cam::impl::device_format_code(mode), c.code);
        EXPECT_EQ(cam::impl::select_bayer_pattern(c.formats), c.pattern);
    }
}

TEST(processing_mode, tone_mapping_measures_mono_and_bayer_formats_only)
{
    for (const char* f : {"Y800", "Y16 ", "BA81", "BA16", "GB16", "BG16", "RG16", "RGGB", "GRBG", "GBRG", "Y12P",
                          "Y1DP", "Y10p", "Y12p"}) {
        const char code[5] = {f[0], f[1], f[2], f[3], 0};
        EXPECT_TRUE(cam::impl::tone_mapped_format(fourcc(code))) << f;
    }
    EXPECT_FALSE(cam::impl::tone_mapped_format(fourcc("YUY2")));
    EXPECT_FALSE(cam::impl::tone_mapped_format(fourcc("RGB4")));
    EXPECT_FALSE(cam::impl::tone_mapped_format(fourcc("P180")));
}

} // namespace
