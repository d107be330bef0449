#include "device_impl/image/image_format.h"

#include <array>
#include <cstdlib>
#include <limits>

namespace img {

namespace {

struct bits_entry {
    std::uint32_t fourcc;
    std::uint32_t bits;
};

constexpr bits_entry bits_table[] = {
    {fourcc("BA81"), 8},   {fourcc("BY8 "), 8},   {fourcc("Y800"), 8},   {fourcc("P180"), 8},
    {fourcc("P280"), 8},   {fourcc("RGB8"), 8},   {fourcc("RGGB"), 8},   {fourcc("GRBG"), 8},
    {fourcc("GBRG"), 8},

    {fourcc("CBY0"), 9},   {fourcc("CBY1"), 9},   {fourcc("CBY2"), 9},   {fourcc("CBY3"), 9},
    {fourcc("CY60"), 9},

    {fourcc("Y10p"), 10},  {fourcc("GRAp"), 10},  {fourcc("GBAp"), 10},  {fourcc("BGAp"), 10},
    {fourcc("RGAp"), 10},

    {fourcc("IYU1"), 12},  {fourcc("Y411"), 12},  {fourcc("I420"), 12},  {fourcc("RGDP"), 12},
    {fourcc("Y1DP"), 12},  {fourcc("GBDP"), 12},  {fourcc("BGDP"), 12},  {fourcc("GRDP"), 12},
    {fourcc("P1CP"), 12},  {fourcc("P2CP"), 12},  {fourcc("GBCP"), 12},  {fourcc("BGCP"), 12},
    {fourcc("RGCP"), 12},  {fourcc("GRCP"), 12},  {fourcc("P1Cp"), 12},  {fourcc("P2Cp"), 12},
    {fourcc("GBCp"), 12},  {fourcc("BGCp"), 12},  {fourcc("RGCp"), 12},  {fourcc("GRCp"), 12},
    {fourcc("Y12P"), 12},  {fourcc("Y12p"), 12},

    {fourcc("BG16"), 16},  {fourcc("GB16"), 16},  {fourcc("RG16"), 16},  {fourcc("BA16"), 16},
    {fourcc("YGB0"), 16},  {fourcc("YGB1"), 16},  {fourcc("Y16 "), 16},  {fourcc("P116"), 16},
    {fourcc("P216"), 16},  {fourcc("YV16"), 16},  {fourcc("YUY2"), 16},  {fourcc("UYVY"), 16},

    {fourcc("RGB3"), 24},  {fourcc("HSV3"), 24},  {fourcc("IYU2"), 24},  {fourcc("MJPG"), 24},
    {fourcc("YU8p"), 24},

    {fourcc("RGB4"), 32},  {fourcc("HSV4"), 32},  {fourcc("ADp1"), 32},  {fourcc("PPM1"), 32},
    {fourcc("PPB1"), 32},  {fourcc("ADI1"), 32},

    {fourcc("YUGp"), 48},

    {fourcc("RGB6"), 64}, {fourcc("ADC1"), 64}, {fourcc("ADp2"), 64}, {fourcc("PPB2"), 64},
    {fourcc("ADI2"), 64}, {fourcc("PPM2"), 64},
    {fourcc("YUfp"), 96},
    {fourcc("ADC2"), 128},
};

constexpr std::array<std::uint32_t, 7> planar_fourccs{
    fourcc("I420"), fourcc("YV16"), fourcc("ADp1"), fourcc("ADp2"), fourcc("YU8p"), fourcc("YUGp"), fourcc("YUfp"),
};

// Bytes per line in 64 bits: the planar formats store one byte (or word) per
// pixel in each plane, everything else packs bits per pixel.
std::int64_t stride64(std::uint32_t code, std::int64_t width) noexcept
{
    if (width < 0) {
        return 0;
    }
    if (code == fourcc("I420") || code == fourcc("YV16") || code == fourcc("ADp1") || code == fourcc("YU8p")) {
        return width;
    }
    if (code == fourcc("ADp2") || code == fourcc("YUGp")) {
        return 2 * width;
    }
    if (code == fourcc("YUfp")) {
        return 4 * width;
    }
    return width * fourcc_bits_per_pixel(code) / 8;
}

template <typename T>
T fit_or_zero(std::int64_t value) noexcept
{
    if (value < 0 || value > static_cast<std::int64_t>(std::numeric_limits<T>::max())) {
        return 0;
    }
    return static_cast<T>(value);
}

} // namespace

std::uint32_t fourcc_bits_per_pixel(std::uint32_t code) noexcept
{
    for (const auto& entry : bits_table) {
        if (entry.fourcc == code) {
            return entry.bits;
        }
    }
    return 0;
}

bool fourcc_is_planar(std::uint32_t code) noexcept
{
    for (const std::uint32_t planar : planar_fourccs) {
        if (planar == code) {
            return true;
        }
    }
    return false;
}

std::int32_t image_stride(std::uint32_t code, std::int32_t width) noexcept
{
    return fit_or_zero<std::int32_t>(stride64(code, width));
}

std::uint32_t image_buffer_size(std::uint32_t code, std::int32_t width, std::int32_t height) noexcept
{
    if (width < 0 || height < 0) {
        return 0;
    }
    const std::int64_t stride = stride64(code, width);
    if (stride > std::numeric_limits<std::int32_t>::max()) {
        return 0;
    }
    const std::int64_t n = std::int64_t{width} * height;
    std::int64_t size = 0;
    if (code == fourcc("I420")) {
        size = n + 2 * (n / 4);
    } else if (code == fourcc("YV16")) {
        size = n + 2 * (n / 2);
    } else if (code == fourcc("ADp1") || code == fourcc("ADp2")) {
        size = stride * height * 4;
    } else if (code == fourcc("YU8p") || code == fourcc("YUGp") || code == fourcc("YUfp")) {
        size = stride * height * 3;
    } else {
        size = stride * height;
    }
    return fit_or_zero<std::uint32_t>(size);
}

image_desc image_desc_make(void* data, std::uint32_t code, std::int32_t width, std::int32_t height,
                           std::int32_t stride, std::uint32_t buffer_size) noexcept
{
    image_desc desc;
    desc.fourcc = code;
    desc.width = width;
    desc.height = height;
    desc.buffer_size = buffer_size;
    desc.stride = stride;
    desc.data = static_cast<std::uint8_t*>(data);
    if (fourcc_is_planar(code)) {
        desc.plane_size = fit_or_zero<std::uint32_t>(std::int64_t{height} * std::llabs(stride));
    }
    return desc;
}

std::string fourcc_name(std::uint32_t code)
{
    if (code == fourcc("RGB4")) {
        return "RGB32";
    }
    if (code == fourcc("RGB3")) {
        return "RGB24";
    }
    if (code == 0) {
        return "NULL";
    }
    std::string name = "'";
    for (int i = 0; i < 4; ++i) {
        name += static_cast<char>((code >> (8 * i)) & 0xFF);
    }
    name += '\'';
    return name;
}

} // namespace img
