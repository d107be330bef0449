#pragma once
// Burns one line of diagnostic text into an image buffer in place, in the
// buffer's own pixel format: white box, red glyphs of an 8 x 8 font, every
// glyph pixel enlarged to scale x scale pixels.

#include <cstddef>
#include <cstdint>

#include "device_impl/image/image_format.h"

namespace cam::overlay {

// Top-left corner of the text box; -1 in a coordinate centres the box on that axis.
struct position {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Draws `length` bytes of `text` (no terminator needed). The box is
// (8 * scale + 1) * length + 1 pixels wide (one-pixel margin on the left, a
// one-pixel gap right of each glyph) and 8 * scale + 2 high (one-pixel margin
// above and below); whatever falls outside the image is clipped on every side.
// RGB32, RGB24 and RGB64 images are taken as bottom-up, so the text reads
// upright when such a buffer is shown. Formats without a pixel writer, a zero
// length, a scale below 1 and a missing buffer leave the image untouched. The
// view must describe memory that is there: height lines of |stride| bytes.
void draw_text(const img::image_desc& image, position at, std::int32_t scale, const char* text,
               std::size_t length) noexcept;

// The 8 x 8 glyphs of code page 437, indexed by unsigned character code; one
// byte per pixel row from the top, the most significant bit leftmost.
extern const std::uint8_t font_8x8[256][8];

} // namespace cam::overlay
