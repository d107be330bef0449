#include "device_impl/camtovra/info_replies.h"

#include <algorithm>
#include <cstring>

namespace camtovra {

namespace {

void put_u32(std::uint8_t* at, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void put_u64(std::uint8_t* at, std::uint64_t value) noexcept
{
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

std::uint32_t kyv_reply_size(std::uint32_t id) noexcept
{
    switch (id) {
    case kyv_manufacturer_id:
    case kyv_product_id:
    case kyv_constant_id:
        return 288;
    case kyv_usb_id:
        return 296;
    default:
        return 0;
    }
}

void write_service_info(std::span<std::uint8_t> out, std::uint64_t file_version) noexcept
{
    std::fill_n(out.begin(), 144, std::uint8_t{0});
    put_u32(out.data(), 9);
    put_u64(out.data() + 8, file_version);
    const char build[] = "fre";
    for (std::size_t i = 0; i < 3; ++i) {
        out[16 + 2 * i] = static_cast<std::uint8_t>(build[i]); // UTF-16LE, high bytes stay zero
    }
}

void narrow_text_field(const wchar_t (&field)[64], std::uint8_t* out) noexcept
{
    // A full field has no terminator: never read past its 64 characters.
    std::size_t n = 0;
    for (; n < 64 && field[n] != L'\0'; ++n) {
        const auto c = static_cast<std::uint32_t>(field[n]);
        out[n] = c <= 0xFF ? static_cast<std::uint8_t>(c) : static_cast<std::uint8_t>('?');
    }
    out[n] = 0;
}

void write_kyv_reply(std::uint32_t id, const cam::device_information& info, std::uint16_t usb_product_id,
                     std::span<std::uint8_t> out) noexcept
{
    const std::uint32_t size = kyv_reply_size(id);
    if (size == 0 || out.size() < size) {
        return;
    }
    std::fill_n(out.begin(), size, std::uint8_t{0});
    std::uint8_t* reply = out.data();
    switch (id) {
    case kyv_manufacturer_id:
        put_u32(reply + 24, info.vendor_id);
        narrow_text_field(info.manufacturer, reply + 28);
        break;
    case kyv_product_id:
        put_u64(reply + 24, info.serial_number);
        narrow_text_field(info.product, reply + 32);
        break;
    case kyv_usb_id:
        put_u32(reply + 24, 5);
        put_u32(reply + 28, 7);
        put_u32(reply + 32, usb_product_id);
        std::memcpy(reply + 36, "bla", 3);
        break;
    case kyv_constant_id:
        put_u32(reply + 24, 66);
        break;
    default:
        break;
    }
}

} // namespace camtovra
