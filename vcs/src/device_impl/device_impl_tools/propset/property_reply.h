#pragma once
// Reply records that handlers write into a request's value buffer, and readers
// of set records. Offsets are bytes within the value buffer; bytes a record
// does not list are left untouched (bytes 0-23 hold the caller's copy of its
// KS property header).
//
// Common outcomes: a buffer shorter than the record → 0x8007007A (a get then
// reports the needed size in bytes_returned); no buffer → 0x80004003.

#include <boost/outcome.hpp>

#include <cstdint>
#include <system_error>

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

namespace cam {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// Record sizes.
inline constexpr std::uint32_t int_reply_size = 4;
inline constexpr std::uint32_t std_range_reply_size = 20;
inline constexpr std::uint32_t std_value_reply_size = 40;
inline constexpr std::uint32_t range_value_reply_size = 48;
inline constexpr std::uint32_t float_range_value_reply_size = 56;

// KS video-proc-amp / camera-control flag and capability bits.
inline constexpr std::uint32_t flag_auto = 1;
inline constexpr std::uint32_t flag_manual = 2;

// Checks that the request's value buffer holds `needed` bytes: too small →
// 0x8007007A (a get reports `needed`), none → 0x80004003.
std::error_code check_value_buffer(KsPropDataRequest& request, std::uint32_t needed) noexcept;

// 0: i32 value.
std::error_code write_int_reply(KsPropDataRequest& request, std::int32_t value) noexcept;
// 24 value, 28 flags, 32 capabilities, 36 minimum, 40 maximum, 44 default.
std::error_code write_range_value_reply(KsPropDataRequest& request, std::uint32_t capabilities, std::int32_t min,
                                        std::int32_t max, std::int32_t def, std::int32_t value,
                                        std::uint32_t flags) noexcept;
// 24 value, 28 minimum, 32 maximum, 36 default (f32 each), 40 flags = 2,
// 44 capabilities = 2, 48 u32 1.
std::error_code write_float_range_value_reply(KsPropDataRequest& request, double min, double max, double def,
                                              double value) noexcept;
// With query_flags 0x1000 the 20-byte range record (0 minimum, 4 maximum,
// 8 default, 12 step, 16 capabilities); otherwise the 40-byte value record
// (24 value, 28 flags, 32 capabilities).
std::error_code write_std_reply(KsPropDataRequest& request, std::uint32_t capabilities, std::int32_t min,
                                std::int32_t max, std::int32_t def, std::int32_t step, std::int32_t value,
                                std::uint32_t flags) noexcept;
// On a reply written by write_std_reply: ORs "auto" into the capabilities and,
// for the value record, `flag_bits` into the flags.
std::error_code add_auto_capability(KsPropDataRequest& request, std::uint32_t flag_bits) noexcept;

struct value_and_flags {
    std::int32_t value = 0;
    std::uint32_t flags = 0;
};
// i32 at 24 and u32 at 28 of a set record: 40 bytes for the two standard
// sets, 48 for every other set.
std::error_code read_value_and_flags(const KsPropDataRequest& request, std::int32_t& value,
                                     std::uint32_t& flags) noexcept;
outcome::std_result<value_and_flags> read_value_and_flags_result(const KsPropDataRequest& request) noexcept;
// The f32 at 24 of a 56-byte record.
outcome::std_result<float> read_float_from_set_request(const KsPropDataRequest& request) noexcept;

} // namespace cam
