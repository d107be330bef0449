#include "properties/prop_emulation_color_enhance2.h"

namespace prop_emulation {

namespace {
constexpr std::uint32_t fourcc(char a, char b, char c, char d) noexcept
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
} // namespace

void color_enhance2::set_first_variant() noexcept
{
    mode_code_ = 12;
    pattern_hidden_ = true;
}

void color_enhance2::set_second_variant() noexcept
{
    mode_code_ = 15;
    pattern_hidden_ = false;
}

std::int32_t color_enhance2::pattern_of_fourcc(std::uint32_t code) noexcept
{
    if (code == fourcc('B', 'A', '8', '1') || code == fourcc('B', 'Y', '8', ' ')) {
        return bggr;
    }
    if (code == fourcc('G', 'B', 'R', 'G')) {
        return gbrg;
    }
    if (code == fourcc('G', 'R', 'B', 'G')) {
        return grbg;
    }
    if (code == fourcc('R', 'G', 'G', 'B')) {
        return rggb;
    }
    return -1;
}

std::error_code color_enhance2::get_request(KsPropDataRequest& request)
{
    if (!cam::same_guid(request.property_set, cam::PROPSETID_COLOR_ENHANCE)) {
        return make_cam_error(E_NOTIMPL);
    }
    switch (request.property_id) {
    case id_mode:
        return cam::write_range_value_reply(request, cam::flag_manual, 0, 0, 0, mode_code_, cam::flag_manual);
    case id_pattern: {
        const std::int32_t shown = pattern_hidden_ ? -1 : pattern_;
        return cam::write_range_value_reply(request, cam::flag_manual, -1, 3, shown, shown, cam::flag_manual);
    }
    default:
        return make_cam_error(E_NOTIMPL);
    }
}

std::error_code color_enhance2::set_request(KsPropDataRequest&)
{
    return make_cam_error(E_NOTIMPL);
}

} // namespace prop_emulation
