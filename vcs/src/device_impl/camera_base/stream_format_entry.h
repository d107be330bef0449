#pragma once
// One offered stream format of a camera as clients see it: the record of the
// service's interface (same fields, same order) and its place in the list.
// Platform-free, so that format matching can be tested natively.

#include <cstdint>

namespace cam {

struct dim {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
};

// Mirrors DShowDeviceServer_StreamFormatInfo field by field.
struct stream_format_info {
    std::uint32_t StreamFormatInfoId = 0; // the input-format index
    std::uint32_t MediaTypeFourCC = 0;
    std::uint32_t BitsPerPixel = 0;
    dim MinDim;
    dim MaxDim;
    dim StepDim;
    std::uint64_t MinAvgTimePerFrame = 0; // 100-ns units
    std::uint64_t MaxAvgTimePerFrame = 0;
    std::uint64_t DefaultAvgTimePerFrame = 0;
    std::uint32_t SourceStreamFormatId = 0;
    std::uint32_t Flags = 0;
};

struct stream_format_entry {
    std::uint32_t position = 0; // place in the list; equals StreamFormatInfoId for UVC cameras
    stream_format_info info;
};

} // namespace cam
