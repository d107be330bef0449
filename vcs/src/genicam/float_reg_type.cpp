#include "genicam/float_reg_type.h"

#include "genicam/genicam_log.h"
#include "genicam/numeric_traits.h"
#include "genicam/xml_value_readers.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace GenICam::impl {

namespace {

std::error_code out_of_range()
{
    return make_error_code(errc::index_out_of_range);
}

// Register bytes to and from host memory order (little-endian on every
// target of this code): a big-endian register is reversed.
void to_register_order(std::uint8_t* bytes, std::int64_t length, bool big_endian)
{
    if (big_endian) {
        std::reverse(bytes, bytes + length);
    }
}

} // namespace

float_reg_type_base::float_reg_type_base(const node_init& init) : node_base_impl_value(init)
{
    cache_.big_endian = read_endianess(*children);
    cache_.mode = read_cachable(*children, cache_mode::NoCache);
    set_actual_access_mode(read_access_mode(*children));
}

float_representation float_reg_type_base::get_representation()
{
    return read_float_representation(*children);
}

std::string_view float_reg_type_base::get_unit()
{
    return child("Unit");
}

display_notation float_reg_type_base::get_display_notation()
{
    return read_display_notation(*children);
}

std::int32_t float_reg_type_base::get_display_precision()
{
    return read_display_precision(*children);
}

std::error_code float_reg_type_base::set_val(double value, std::uint32_t flags)
{
    static_assert(std::endian::native == std::endian::little);
    if (const std::error_code denied = check_access(true, flags)) {
        return denied;
    }
    if (!numeric_traits<double>::is_number(value)) {
        numeric_traits<double>::log_range_failure(name_text(), value);
        return make_error_code(errc::value_out_of_range);
    }
    const auto at = get_address(flags);
    if (!at) {
        return at.error();
    }
    const auto [address, length] = at.value();
    if (length != 4 && length != 8) {
        GENICAM_LOG(1, "%s, length value should be either 4 or 8. value=%lld.\n",
                    "GenICam::impl::float_reg_type_base::set_val", static_cast<long long>(length));
        return out_of_range();
    }
    std::uint8_t bytes[8] = {};
    if (length == 4) {
        const float single = static_cast<float>(value);
        std::memcpy(bytes, &single, 4);
    } else {
        std::memcpy(bytes, &value, 8);
    }
    to_register_order(bytes, length, cache_.big_endian);
    const std::error_code r = cache_.cached_write(static_cast<std::uint64_t>(address), bytes, length, flags);
    if (!r) {
        propagate_change();
    }
    return r;
}

result<double> float_reg_type_base::get_val(std::uint32_t flags)
{
    if (const std::error_code denied = check_access(false, flags)) {
        return denied;
    }
    const auto at = get_address(flags);
    if (!at) {
        return at.error();
    }
    const auto [address, length] = at.value();
    if (length != 4 && length != 8) {
        return out_of_range();
    }
    std::uint8_t bytes[8] = {};
    if (const std::error_code r = cache_.cached_read(static_cast<std::uint64_t>(address), bytes, length, flags)) {
        return r;
    }
    to_register_order(bytes, length, cache_.big_endian);
    if (length == 4) {
        float single = 0;
        std::memcpy(&single, bytes, 4);
        return static_cast<double>(single);
    }
    double d = 0;
    std::memcpy(&d, bytes, 8);
    return d;
}

// The smallest positive normal number and the largest finite one of the
// register's width.
result<double> float_reg_type_base::get_min(std::uint32_t)
{
    return get_length() == 8 ? std::numeric_limits<double>::min()
                             : static_cast<double>(std::numeric_limits<float>::min());
}

result<double> float_reg_type_base::get_max(std::uint32_t)
{
    return get_length() == 8 ? std::numeric_limits<double>::max()
                             : static_cast<double>(std::numeric_limits<float>::max());
}

result<double> float_reg_type_base::get_default(std::uint32_t)
{
    return make_error_code(errc::not_implemented);
}

result<double> float_reg_type_base::get_inc(std::uint32_t)
{
    return make_error_code(errc::not_implemented);
}

float_reg_type_const_address::float_reg_type_const_address(const node_init& init)
    : float_reg_type_base(init)
    , address_(*init.children, *this)
{
}

void float_reg_type_const_address::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    cache_.port = resolve_port(document, *children);
}

result<std::pair<std::int64_t, std::int64_t>> float_reg_type_const_address::get_address(std::uint32_t)
{
    return std::pair{address_.address, address_.length};
}

void float_reg_type_dyn::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    cache_.port = resolve_port(document, *children);
    address_.resolve_references_len(*children, *this);
}

result<std::pair<std::int64_t, std::int64_t>> float_reg_type_dyn::get_address(std::uint32_t flags)
{
    return address_.address_and_length(flags);
}

std::int64_t float_reg_type_dyn::get_length()
{
    const result<std::int64_t> length = address_.evaluate_length(0);
    return length ? length.value() : 4;
}

} // namespace GenICam::impl
