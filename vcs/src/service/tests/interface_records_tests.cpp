#include <gtest/gtest.h>

#include <cstddef>

#include "camtovra_service.h"

namespace {

// The records cross process boundaries and are read by clients built
// elsewhere: their sizes and field offsets are fixed.
TEST(interface_records, have_their_wire_layout)
{
    EXPECT_EQ(sizeof(DShowDeviceServer_DeviceId), 144u);
    EXPECT_EQ(offsetof(DShowDeviceServer_DeviceId, DeviceGUID), 128u);

    EXPECT_EQ(sizeof(DShowDeviceServer_StreamFormat), 32u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormat, Dimension), 4u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormat, AverageTimePerFrame), 16u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormat, ScalingFactorsId), 24u);

    EXPECT_EQ(sizeof(DShowDeviceServer_StreamFormatInfo), 72u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, MediaTypeFourCC), 4u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, BitsPerPixel), 8u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, MinDim), 12u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, MaxDim), 20u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, StepDim), 28u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, MinAvgTimePerFrame), 40u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, MaxAvgTimePerFrame), 48u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, DefaultAvgTimePerFrame), 56u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, SourceStreamFormatId), 64u);
    EXPECT_EQ(offsetof(DShowDeviceServer_StreamFormatInfo, Flags), 68u);

    EXPECT_EQ(sizeof(DShowDeviceServer_StreamFrame), 8u);
    EXPECT_EQ(sizeof(DShowDeviceServer_FrameCountInfo), 48u);
    EXPECT_EQ(offsetof(DShowDeviceServer_FrameCountInfo, frames_dropped_due_to_unspecified), 40u);
}

} // namespace
