#include "genicam/int_reg_type.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/xml_value_readers.h"

#include <limits>

namespace GenICam::impl {

namespace {

bool valid_length(std::int64_t length) noexcept
{
    return length >= 1 && length <= 8;
}

std::error_code out_of_range()
{
    return make_error_code(errc::index_out_of_range);
}

// The `length` (1 to 8) low bytes of `v` as a number.
std::int64_t sign_extended(std::uint64_t v, std::int64_t length, bool is_unsigned) noexcept
{
    const std::int64_t sign_bit = 8 * length - 1;
    if (!is_unsigned && length < 8 && ((v >> sign_bit) & 1)) {
        v |= ~std::uint64_t{0} << sign_bit;
    }
    return static_cast<std::int64_t>(v);
}

} // namespace

result<std::int64_t> register_min(std::int64_t length, bool is_unsigned)
{
    if (!valid_length(length)) {
        return out_of_range();
    }
    if (is_unsigned) {
        return 0;
    }
    return length == 8 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << (8 * length - 1));
}

result<std::int64_t> register_max(std::int64_t length, bool is_unsigned)
{
    if (!valid_length(length)) {
        return out_of_range();
    }
    if (length == 8) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return is_unsigned ? (std::int64_t{1} << (8 * length)) - 1 : (std::int64_t{1} << (8 * length - 1)) - 1;
}

int_reg_type_base::int_reg_type_base(const node_init& init) : node_base_impl_value(init)
{
    cache_.big_endian = read_endianess(*children);
    cache_.mode = read_cachable(*children, cache_mode::NoCache);
    unsigned_ = read_sign(*children);
    set_actual_access_mode(read_access_mode(*children));
}

integer_representation int_reg_type_base::get_representation()
{
    return read_integer_representation(*children);
}

std::string_view int_reg_type_base::get_unit()
{
    return child("Unit");
}

std::vector<INode*> int_reg_type_base::get_selected_features()
{
    return resolve_node_list();
}

result<std::pair<std::int64_t, std::int64_t>> int_reg_type_base::checked_address(std::uint32_t flags)
{
    const result<std::pair<std::int64_t, std::int64_t>> at = get_address(flags);
    if (!at) {
        return at.error();
    }
    if (!valid_length(at.value().second)) {
        GENICAM_LOG(1, "IntReg (\"%s\"). Invalid Length value=%lld out of range [1;8].\n", name_text(),
                    static_cast<long long>(at.value().second));
        return out_of_range();
    }
    return at;
}

bool int_reg_type_base::plain_read_access(std::uint32_t flags) const noexcept
{
    return (flags & access_flags::skip_access_check) == 0 && is_implemented_node == nullptr &&
           is_available_node == nullptr;
}

result<std::int64_t> int_reg_type_base::get_val(std::uint32_t flags)
{
    if (plain_read_access(flags)) {
        // check_access without its calls: with no condition link and no
        // access-mode peer (an IntReg has none) the node's own mode decides,
        // after the same nesting step that the access-mode evaluation takes.
        const eval_depth_guard guard;
        if (!guard || (access != access_mode::RW && access != access_mode::RO)) {
            return make_error_code(errc::access_denied);
        }
    } else if (const std::error_code denied = check_access(false, flags)) {
        return denied;
    }
    if (fixed_) {
        if (std::uint64_t v = 0; cache_.cached_integer(fixed_address_, fixed_length_, flags, v)) {
            return sign_extended(v, fixed_length_, unsigned_);
        }
        return read_at(fixed_address_, fixed_length_, flags);
    }
    const auto at = checked_address(flags);
    if (!at) {
        return at.error();
    }
    const auto [address, length] = at.value();
    return read_at(static_cast<std::uint64_t>(address), length, flags);
}

result<std::int64_t> int_reg_type_base::read_at(std::uint64_t address, std::int64_t length, std::uint32_t flags)
{
    const result<std::uint64_t> raw = cache_.read_integer(address, length, flags);
    if (!raw) {
        return raw.error();
    }
    return sign_extended(raw.value(), length, unsigned_);
}

std::error_code int_reg_type_base::set_val(std::int64_t value, std::uint32_t flags)
{
    if (const std::error_code denied = check_access(true, flags)) {
        return denied;
    }
    const auto at = checked_address(flags);
    if (!at) {
        return at.error();
    }
    const auto [address, length] = at.value();
    // No Min/Max check: the bits that do not fit are dropped.
    const std::error_code r =
        cache_.write_integer(static_cast<std::uint64_t>(address), static_cast<std::uint64_t>(value), length, flags);
    if (!r) {
        propagate_change();
    }
    return r;
}

result<std::int64_t> int_reg_type_base::get_min(std::uint32_t)
{
    return register_min(get_length(), unsigned_);
}

result<std::int64_t> int_reg_type_base::get_max(std::uint32_t)
{
    return register_max(get_length(), unsigned_);
}

result<std::int64_t> int_reg_type_base::get_inc(std::uint32_t)
{
    return 1;
}

result<std::int64_t> int_reg_type_base::get_default(std::uint32_t)
{
    return make_error_code(errc::not_implemented);
}

int_reg_type_const_address::int_reg_type_const_address(const node_init& init)
    : int_reg_type_base(init)
    , address_(*init.children, *this)
{
    // An invalid length keeps the general path, which logs it on every access.
    fixed_ = valid_length(address_.length);
    fixed_address_ = static_cast<std::uint64_t>(address_.address);
    fixed_length_ = address_.length;
}

void int_reg_type_const_address::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    cache_.port = resolve_port(document, *children);
}

result<std::pair<std::int64_t, std::int64_t>> int_reg_type_const_address::get_address(std::uint32_t)
{
    return std::pair{address_.address, address_.length};
}

void int_reg_type_dyn::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    cache_.port = resolve_port(document, *children);
    address_.resolve_references_len(*children, *this);
}

result<std::pair<std::int64_t, std::int64_t>> int_reg_type_dyn::get_address(std::uint32_t flags)
{
    return address_.address_and_length(flags);
}

std::int64_t int_reg_type_dyn::get_length()
{
    const result<std::int64_t> length = address_.evaluate_length(0);
    return length ? length.value() : 4;
}

} // namespace GenICam::impl
