#pragma once
// Pixel formats of the camera streams: bits per pixel of a FOURCC, bytes per
// line and per image, the image descriptor that frame processing receives,
// and the printable name of a FOURCC for log lines.
//
// A FOURCC is a u32 whose first character is the low byte ("YUY2" is
// 0x32595559). Sizes are computed in 64 bits; a size that does not fit the
// 32-bit field it is returned in is reported as 0, like an unknown format, so
// that no caller sizes a buffer from a wrapped value.

#include <cstdint>
#include <string>

namespace img {

// The FOURCC of a four-character literal: fourcc("YUY2") == 0x32595559.
constexpr std::uint32_t fourcc(const char (&code)[5]) noexcept
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

// What frame processing gets of one image. Passed by value; `data` points at
// the first byte of line 0, `stride` is the distance from one line to the
// next (negative for a bottom-up view). `buffer_size` is the number of bytes
// of image data that are valid from the start of the buffer.
struct image_desc {
    std::uint32_t fourcc = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t buffer_size = 0;
    std::int32_t stride = 0;
    std::uint8_t* data = nullptr;
    std::uint32_t plane_size = 0; // first plane of a planar format: height * |stride|; 0 otherwise
    std::uint32_t reserved = 0;
};

// Bits per pixel of a FOURCC; 0 for formats this system does not know.
[[nodiscard]] std::uint32_t fourcc_bits_per_pixel(std::uint32_t fourcc) noexcept;

// Bytes per line of an image `width` pixels wide; 0 for an unknown FOURCC or
// a negative width.
[[nodiscard]] std::int32_t image_stride(std::uint32_t fourcc, std::int32_t width) noexcept;

// Bytes of a whole image, every plane included; 0 for an unknown FOURCC, a
// negative size, or a size beyond 32 bits.
[[nodiscard]] std::uint32_t image_buffer_size(std::uint32_t fourcc, std::int32_t width, std::int32_t height) noexcept;

// True for the FOURCCs stored as planes: the first plane is height * |stride| bytes.
[[nodiscard]] bool fourcc_is_planar(std::uint32_t fourcc) noexcept;

[[nodiscard]] image_desc image_desc_make(void* data, std::uint32_t fourcc, std::int32_t width, std::int32_t height,
                                         std::int32_t stride, std::uint32_t buffer_size) noexcept;

// "RGB32", "RGB24", "NULL" or the four characters in single quotes ('YUY2').
[[nodiscard]] std::string fourcc_name(std::uint32_t fourcc);

} // namespace img
