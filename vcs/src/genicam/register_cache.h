#pragma once
// The way register nodes reach their port: a per-node cache of the last bytes
// read or written at one address, governed by the node's "Cachable" policy
// and the request flags, and the conversion between register bytes and
// integers in the node's byte order. Also the bit-field arithmetic of
// MaskedIntReg and StructEntry.

#include "genicam/element_children.h"
#include "genicam/genicam_types.h"
#include "genicam/iport.h"

#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <string>
#include <string_view>

namespace GenICam {
class IGenICamDoc;
}

namespace GenICam::impl {

// The Port node named by the element's "pPort" ("Device" when absent or
// empty); none when there is no such port.
IPort* resolve_port(IGenICamDoc& document, const element_children& element);

// Decodes `length` bytes (1 to 8) into the low bits of an unsigned value.
std::uint64_t decode_integer(const std::uint8_t* bytes, std::int64_t length, bool big_endian) noexcept;
// The `length` low bytes of `value`; nothing for a length outside 1 to 8.
std::array<std::uint8_t, 8> pack_integer(std::uint64_t value, std::int64_t length, bool big_endian) noexcept;

class register_cache {
public:
    std::error_code cached_read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags);
    std::error_code cached_write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t flags);
    // The bytes as an integer in the node's byte order, without sign extension.
    result<std::uint64_t> read_integer(std::uint64_t address, std::int64_t length, std::uint32_t flags);
    std::error_code write_integer(std::uint64_t address, std::uint64_t value, std::int64_t length,
                                  std::uint32_t flags);
    void invalidate() noexcept { cached_length = 0; }
    // Takes the bytes that another node of the same register wrote (another
    // entry of a StructReg), so that this node's read-modify-write keeps the
    // other's bits and its cache-only reads answer what the register now
    // holds. WriteThrough serves later reads from them when `device_took_them`.
    // Otherwise (WriteAround and NoCache, or a write into the cache only) they
    // answer cache-only requests alone: the bytes were written, not read back,
    // so the next read reaches the device.
    void take_written_integer(std::uint64_t address, std::uint64_t value, std::int64_t length,
                              bool device_took_them) noexcept;
    // The cache's answer to read_integer when it can give one without the
    // port: the same value under the same conditions (a port is set, the
    // request does not bypass the cache, the cache holds at least `length`
    // bytes at `address`, and either the policy caches or the request asks
    // for cached bytes only). False leaves the request to read_integer.
    bool cached_integer(std::uint64_t address, std::int64_t length, std::uint32_t flags,
                        std::uint64_t& value) const noexcept
    {
        if (port == nullptr || length < 1 || length > 8 || (flags & access_flags::bypass_cache) != 0 ||
            cached_length == 0 || cached_address != address || cached_length < length) {
            return false;
        }
        if ((mode == cache_mode::NoCache || cache_only_copy) && (flags & access_flags::cache_only) == 0) {
            return false;
        }
        value = decode_cached(length);
        return true;
    }

    IPort* port = nullptr;
    std::array<std::uint8_t, 8> cached_bytes{};
    std::uint64_t cached_address = 0;
    std::uint8_t cached_length = 0; // 0: empty
    cache_mode mode = cache_mode::NoCache;
    bool big_endian = true;
    // The cached bytes answer cache-only requests only, whatever the mode:
    // this node or another one of its register wrote them and this node's
    // mode does not keep a write.
    bool cache_only_copy = false;

private:
    void store(std::uint64_t address, const void* data, std::int64_t length) noexcept;
    static std::uint64_t byte_swap(std::uint64_t v) noexcept { return __builtin_bswap64(v); }
    // decode_integer of the first `length` (1 to 8) cached bytes, done as one
    // 8-byte load: the bytes past `length` are shifted or masked away.
    std::uint64_t decode_cached(std::int64_t length) const noexcept
    {
        std::uint64_t native = 0;
        std::memcpy(&native, cached_bytes.data(), sizeof native);
        // Byte 0 lowest, respectively highest.
        const std::uint64_t low_first = std::endian::native == std::endian::little ? native : byte_swap(native);
        const std::uint64_t high_first = std::endian::native == std::endian::little ? byte_swap(native) : native;
        const auto unused_bits = static_cast<unsigned>(64 - 8 * length);
        if (big_endian) {
            return high_first >> unused_bits;
        }
        return unused_bits == 0 ? low_first : low_first & ((std::uint64_t{1} << (64 - unused_bits)) - 1);
    }
};

// StringReg's cache: the last text read or written at one address.
class string_cache {
public:
    result<std::string> read_string(std::uint64_t address, std::int64_t length, std::uint32_t flags);
    std::error_code update_string_cache(std::uint64_t address, const void* bytes, std::int64_t length);
    // Takes the register bytes the device accepted at `address` (the text
    // padded to the register's length). WriteThrough serves later reads from
    // them; WriteAround and NoCache keep them for cache-only requests alone,
    // so the next normal read reaches the device.
    void take_written_text(std::uint64_t address, std::string_view text);
    void invalidate() noexcept { valid = false; }

    IPort* port = nullptr;
    std::uint64_t cached_address = 0;
    std::string cached_text;
    bool valid = false;
    cache_mode mode = cache_mode::WriteThrough;
    // The text answers cache-only requests only (see take_written_text).
    bool cache_only_copy = false;
};

// Bit numbers count from the least significant bit for little-endian
// registers and from the most significant bit of the register for big-endian
// ones.
struct bit_range {
    std::int32_t lsb = 0;
    std::int32_t msb = 0;
};

// "Bit", else "MSB" and "LSB", else both 0; negative numbers are not taken.
bit_range parse_bit_range(const element_children& element);

// True when both bit numbers lie inside a register of `length` bytes (1 to 8):
// only then are the mask and shift below defined.
bool bit_range_fits(bit_range range, std::int64_t length) noexcept;
std::uint64_t bit_mask(bit_range range, bool big_endian, std::int64_t length) noexcept;
// The distance from the field's lowest value bit to bit 0.
std::uint32_t bit_shift(bit_range range, bool big_endian, std::int64_t length) noexcept;
std::int64_t extract_bits(bit_range range, bool big_endian, std::int64_t length, bool is_signed,
                          std::uint64_t raw) noexcept;
// The field's limits: 0 / 2^(w+1)-1 unsigned (2^63-1 for a 64-bit field),
// -2^w / 2^w-1 signed, where the field is |msb - lsb| + 1 = w + 1 bits wide.
std::int64_t bit_field_min(bit_range range, bool is_signed) noexcept;
std::int64_t bit_field_max(bit_range range, bool is_signed) noexcept;

} // namespace GenICam::impl
