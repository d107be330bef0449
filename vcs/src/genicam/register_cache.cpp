#include "genicam/register_cache.h"

#include "genicam/igenicam_doc.h"
#include "genicam/number_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace GenICam::impl {

namespace {

std::error_code error(errc e)
{
    return make_error_code(e);
}

bool numeric_length(std::int64_t length) noexcept
{
    return length >= 1 && length <= 8;
}

std::uint64_t low_bits(std::uint32_t count) noexcept
{
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

} // namespace

IPort* resolve_port(IGenICamDoc& document, const element_children& element)
{
    return document.find_port(element.text("pPort"));
}

std::uint64_t decode_integer(const std::uint8_t* bytes, std::int64_t length, bool big_endian) noexcept
{
    std::uint64_t v = 0;
    if (!numeric_length(length)) {
        return 0;
    }
    for (std::int64_t k = 0; k < length; ++k) {
        const std::uint64_t b = bytes[k];
        v |= big_endian ? b << (8 * (length - 1 - k)) : b << (8 * k);
    }
    return v;
}

std::array<std::uint8_t, 8> pack_integer(std::uint64_t value, std::int64_t length, bool big_endian) noexcept
{
    std::array<std::uint8_t, 8> out{};
    if (!numeric_length(length)) {
        return out;
    }
    for (std::int64_t k = 0; k < length; ++k) {
        const std::int64_t shift = big_endian ? 8 * (length - 1 - k) : 8 * k;
        out[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> shift);
    }
    return out;
}

void register_cache::store(std::uint64_t address, const void* data, std::int64_t length) noexcept
{
    std::memcpy(cached_bytes.data(), data, static_cast<std::size_t>(length));
    cached_address = address;
    cached_length = static_cast<std::uint8_t>(length);
    cache_only_copy = false;
}

void register_cache::take_written_integer(std::uint64_t address, std::uint64_t value, std::int64_t length,
                                          bool device_took_them) noexcept
{
    if (!numeric_length(length)) {
        invalidate();
        return;
    }
    const std::array<std::uint8_t, 8> bytes = pack_integer(value, length, big_endian);
    store(address, bytes.data(), length);
    cache_only_copy = !device_took_them || mode != cache_mode::WriteThrough;
}

std::error_code register_cache::cached_read(std::uint64_t address, void* buffer, std::int64_t length,
                                            std::uint32_t flags)
{
    if (!port) {
        return error(errc::not_implemented);
    }
    if (length < 0) {
        return error(errc::index_out_of_range);
    }
    if (!(flags & access_flags::bypass_cache)) {
        const bool holds_address = cached_length != 0 && cached_address == address;
        if (flags & access_flags::cache_only) {
            if (!holds_address) {
                return error(errc::no_cached_value);
            }
            if (cached_length < length) {
                return error(errc::buffer_too_small);
            }
            std::memcpy(buffer, cached_bytes.data(), static_cast<std::size_t>(length));
            return {};
        }
        if (mode != cache_mode::NoCache && !cache_only_copy && holds_address && cached_length >= length) {
            std::memcpy(buffer, cached_bytes.data(), static_cast<std::size_t>(length));
            return {};
        }
    }
    const std::error_code r = port->read(address, buffer, length, flags);
    // Kept also in NoCache mode, so that a later cache-only request finds it.
    if (!r && length <= 8) {
        store(address, buffer, length);
    }
    return r;
}

std::error_code register_cache::cached_write(std::uint64_t address, const void* data, std::int64_t length,
                                             std::uint32_t flags)
{
    if (!port) {
        return error(errc::not_implemented);
    }
    if (length < 0) {
        return error(errc::index_out_of_range);
    }
    if (flags & access_flags::cache_only) {
        if (mode == cache_mode::NoCache) {
            return error(errc::not_implemented);
        }
        if (length > 8) {
            return error(errc::buffer_too_small);
        }
        store(address, data, length);
        return {};
    }
    if (mode == cache_mode::WriteThrough && length > 8) {
        return error(errc::buffer_too_small);
    }
    // The cache changes only once the device took the bytes: a device that
    // refused them still holds what the cache held before, and the settings
    // saved at close must find that value, not an empty cache.
    const std::error_code r = port->write(address, data, length, flags);
    if (r) {
        return r;
    }
    if (length > 8) {
        // Longer than the cache holds: whatever it held is out of date.
        invalidate();
        return r;
    }
    // WriteThrough serves later reads from the written bytes. WriteAround and
    // NoCache keep them for cache-only reads alone (the settings saved at
    // close): without them they would answer the value read before the
    // write, or nothing. Their normal reads still reach the device, since the
    // bytes were written, not read back.
    store(address, data, length);
    cache_only_copy = mode != cache_mode::WriteThrough;
    return r;
}

result<std::uint64_t> register_cache::read_integer(std::uint64_t address, std::int64_t length, std::uint32_t flags)
{
    if (!numeric_length(length)) {
        return error(errc::index_out_of_range);
    }
    if (std::uint64_t value = 0; cached_integer(address, length, flags, value)) {
        return value;
    }
    std::uint8_t bytes[8] = {};
    if (const std::error_code r = cached_read(address, bytes, length, flags)) {
        return r;
    }
    return decode_integer(bytes, length, big_endian);
}

std::error_code register_cache::write_integer(std::uint64_t address, std::uint64_t value, std::int64_t length,
                                              std::uint32_t flags)
{
    if (!numeric_length(length)) {
        return error(errc::index_out_of_range);
    }
    const std::array<std::uint8_t, 8> bytes = pack_integer(value, length, big_endian);
    return cached_write(address, bytes.data(), length, flags);
}

result<std::string> string_cache::read_string(std::uint64_t address, std::int64_t length, std::uint32_t flags)
{
    if (!port) {
        return error(errc::not_implemented);
    }
    if (length < 0) {
        return error(errc::index_out_of_range);
    }
    const auto wanted = static_cast<std::size_t>(length);
    const bool holds_address = valid && cached_address == address;
    if (flags & access_flags::cache_only) {
        if (!holds_address) {
            return error(errc::no_cached_value);
        }
        if (cached_text.size() < wanted) {
            return error(errc::buffer_too_small);
        }
        return cached_text.substr(0, wanted);
    }
    if (!(flags & access_flags::bypass_cache) && mode != cache_mode::NoCache && !cache_only_copy && holds_address &&
        cached_text.size() >= wanted) {
        return cached_text.substr(0, wanted);
    }
    std::string text(wanted, '\0');
    if (const std::error_code r = port->read(address, text.data(), length, flags)) {
        return r;
    }
    update_string_cache(address, text.data(), length);
    return text;
}

std::error_code string_cache::update_string_cache(std::uint64_t address, const void* bytes, std::int64_t length)
{
    if (length < 0) {
        return error(errc::buffer_too_small);
    }
    cached_text.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
    cached_address = address;
    valid = true;
    cache_only_copy = false;
    return {};
}

void string_cache::take_written_text(std::uint64_t address, std::string_view text)
{
    update_string_cache(address, text.data(), static_cast<std::int64_t>(text.size()));
    cache_only_copy = mode != cache_mode::WriteThrough;
}

bit_range parse_bit_range(const element_children& element)
{
    const auto read = [&](child_key key) -> std::optional<std::int64_t> {
        const parsed_integer r = parse_integer_text(element.text(key));
        if (!r.ok() || r.value < 0) {
            return std::nullopt;
        }
        // A bit number past any register stays out of range instead of
        // wrapping into one: the access then refuses it.
        return std::min<std::int64_t>(r.value, std::numeric_limits<std::int32_t>::max());
    };
    if (const auto bit = read("Bit")) {
        return {static_cast<std::int32_t>(*bit), static_cast<std::int32_t>(*bit)};
    }
    const auto msb = read("MSB");
    const auto lsb = read("LSB");
    if (msb && lsb) {
        return {static_cast<std::int32_t>(*lsb), static_cast<std::int32_t>(*msb)};
    }
    return {};
}

bool bit_range_fits(bit_range range, std::int64_t length) noexcept
{
    if (!numeric_length(length)) {
        return false;
    }
    const std::int64_t top = 8 * length - 1;
    return range.lsb >= 0 && range.lsb <= top && range.msb >= 0 && range.msb <= top;
}

std::uint64_t bit_mask(bit_range range, bool big_endian, std::int64_t length) noexcept
{
    if (!bit_range_fits(range, length)) {
        return 0;
    }
    if (big_endian) {
        if (range.msb > range.lsb) {
            return 0;
        }
        // Register bit i is value bit 8L-1-i: the field covers value bits
        // 8L-1-lsb up to 8L-1-msb.
        const auto low = static_cast<std::uint32_t>(8 * length - 1 - range.lsb);
        return low_bits(static_cast<std::uint32_t>(range.lsb - range.msb + 1)) << low;
    }
    if (range.msb < range.lsb) {
        return 0;
    }
    return low_bits(static_cast<std::uint32_t>(range.msb - range.lsb + 1)) << range.lsb;
}

std::uint32_t bit_shift(bit_range range, bool big_endian, std::int64_t length) noexcept
{
    if (!bit_range_fits(range, length)) {
        return 0;
    }
    return static_cast<std::uint32_t>(big_endian ? 8 * length - 1 - range.lsb : range.lsb);
}

std::int64_t extract_bits(bit_range range, bool big_endian, std::int64_t length, bool is_signed,
                          std::uint64_t raw) noexcept
{
    std::uint64_t value = (raw & bit_mask(range, big_endian, length)) >> bit_shift(range, big_endian, length);
    if (is_signed) {
        const auto w = static_cast<std::uint32_t>(std::abs(static_cast<std::int64_t>(range.msb) - range.lsb));
        if (w < 63 && (value >> w) & 1) {
            value |= ~low_bits(w + 1);
        }
    }
    return static_cast<std::int64_t>(value);
}

std::int64_t bit_field_min(bit_range range, bool is_signed) noexcept
{
    const auto w = static_cast<std::uint32_t>(std::abs(static_cast<std::int64_t>(range.msb) - range.lsb));
    if (!is_signed) {
        return 0;
    }
    return w >= 63 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << w);
}

std::int64_t bit_field_max(bit_range range, bool is_signed) noexcept
{
    const auto w = static_cast<std::uint32_t>(std::abs(static_cast<std::int64_t>(range.msb) - range.lsb));
    if (is_signed) {
        return w >= 63 ? std::numeric_limits<std::int64_t>::max() : (std::int64_t{1} << w) - 1;
    }
    return w >= 63 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(low_bits(w + 1));
}

} // namespace GenICam::impl
