#include "genicam/masked_int_reg_type.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"
#include "genicam/xml_value_readers.h"

#include <array>
#include <string_view>

namespace GenICam::impl {

namespace {

std::error_code out_of_range()
{
    return make_error_code(errc::index_out_of_range);
}

// A StructEntry's own children when its text of `key` is one of `accepted`,
// else its parent's.
const element_children& own_or_parent(const element_children& own, const element_children& parent, child_key key,
                                      std::initializer_list<std::string_view> accepted)
{
    const std::string_view text = own.text(key);
    for (std::string_view a : accepted) {
        if (text == a) {
            return own;
        }
    }
    return parent;
}

} // namespace

integer_representation bit_field_register::get_representation()
{
    return read_integer_representation(*children);
}

std::string_view bit_field_register::get_unit()
{
    return child("Unit");
}

std::vector<INode*> bit_field_register::get_selected_features()
{
    return resolve_node_list();
}

result<bit_field_register::location> bit_field_register::checked_location(std::uint32_t flags)
{
    const result<location> at = locate(flags);
    if (!at) {
        return at.error();
    }
    // Bit numbers outside the register would mean shifts past 64 bits.
    if (!bit_range_fits(bits_, at.value().length)) {
        return out_of_range();
    }
    return at;
}

result<std::uint64_t> bit_field_register::read_raw(const location& at, std::uint32_t flags)
{
    const auto address = static_cast<std::uint64_t>(at.address);
    if (std::uint64_t cached = 0; cache_.cached_integer(address, at.length, flags, cached)) {
        return cached;
    }
    // Not in the cache and not a cache-only request: the bytes come from the
    // device.
    const result<std::uint64_t> raw = cache_.read_integer(address, at.length, flags);
    if (raw && (flags & access_flags::cache_only) == 0) {
        register_read(at, raw.value());
    }
    return raw;
}

result<std::int64_t> bit_field_register::get_val(std::uint32_t flags)
{
    if (const std::error_code denied = check_access(false, flags)) {
        return denied;
    }
    const result<location> at = checked_location(flags);
    if (!at) {
        return at.error();
    }
    const result<std::uint64_t> raw = read_raw(at.value(), flags);
    if (!raw) {
        return raw.error();
    }
    return extract_bits(bits_, cache_.big_endian, at.value().length, !unsigned_, raw.value());
}

std::error_code bit_field_register::set_val(std::int64_t value, std::uint32_t flags)
{
    if (const std::error_code denied = check_access(true, flags)) {
        return denied;
    }
    const result<location> at = checked_location(flags);
    if (!at) {
        return at.error();
    }
    const result<std::uint64_t> current = read_raw(at.value(), flags);
    if (!current) {
        return current.error();
    }
    const std::int64_t length = at.value().length;
    const std::uint64_t mask = bit_mask(bits_, cache_.big_endian, length);
    const std::uint32_t shift = bit_shift(bits_, cache_.big_endian, length);
    const std::uint64_t updated =
        ((static_cast<std::uint64_t>(value) << shift) & mask) | (current.value() & ~mask);
    const std::error_code r =
        cache_.write_integer(static_cast<std::uint64_t>(at.value().address), updated, length, flags);
    if (!r) {
        register_written(at.value(), updated, flags);
        propagate_change();
    }
    return r;
}

result<std::int64_t> bit_field_register::get_min(std::uint32_t flags)
{
    const result<std::int64_t> length = field_length(flags);
    if (!length) {
        return length.error();
    }
    if (!bit_range_fits(bits_, length.value())) {
        return out_of_range();
    }
    return bit_field_min(bits_, !unsigned_);
}

result<std::int64_t> bit_field_register::get_max(std::uint32_t flags)
{
    const result<std::int64_t> length = field_length(flags);
    if (!length) {
        return length.error();
    }
    if (!bit_range_fits(bits_, length.value())) {
        return out_of_range();
    }
    return bit_field_max(bits_, !unsigned_);
}

result<std::int64_t> bit_field_register::get_inc(std::uint32_t)
{
    return 1;
}

result<std::int64_t> bit_field_register::get_default(std::uint32_t)
{
    return make_error_code(errc::not_implemented);
}

// MaskedIntReg

masked_int_reg_type_base::masked_int_reg_type_base(const node_init& init) : bit_field_register(init)
{
    cache_.big_endian = read_endianess(*children);
    cache_.mode = cache_mode::NoCache;
    unsigned_ = read_sign(*children);
    bits_ = parse_bit_range(*children);
    set_actual_access_mode(read_access_mode(*children));
}

void masked_int_reg_type_base::resolve_length_and_port(IGenICamDoc& document)
{
    const parsed_integer length = parse_integer_text(child("Length"));
    if (!length.ok() || length.value < 0) {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to parse \"Length\" XML element.\n",
                    "GenICam::impl::masked_int_reg_type_base::_resolve_references", "MaskedIntReg", name_text());
        length_ = 1;
    } else {
        length_ = length.value >= 1 && length.value <= 8 ? static_cast<std::int32_t>(length.value) : 4;
    }
    cache_.port = resolve_port(document, *children);
}

masked_int_reg_type_const_address::masked_int_reg_type_const_address(const node_init& init)
    : masked_int_reg_type_base(init)
    , address_(calc_address_nodes_sum(*init.children, *this))
{
}

void masked_int_reg_type_const_address::_resolve_references(IGenICamDoc& document, pugi::xml_node)
{
    resolve_length_and_port(document);
}

result<bit_field_register::location> masked_int_reg_type_const_address::locate(std::uint32_t)
{
    return location{address_, length_};
}

void masked_int_reg_type_dyn_address::_resolve_references(IGenICamDoc& document, pugi::xml_node)
{
    address_.resolve_references(*children, *this);
    resolve_length_and_port(document);
}

result<bit_field_register::location> masked_int_reg_type_dyn_address::locate(std::uint32_t flags)
{
    const result<std::int64_t> address = address_.calc_address(length_, flags);
    if (!address) {
        return address.error();
    }
    return location{address.value(), length_};
}

// StructEntry

struct_entry_type::struct_entry_type(const node_init& init)
    : bit_field_register(init)
    , parent_(&init.store->build(element.parent()))
{
    cache_.big_endian = read_endianess(*parent_);
    cache_.mode = read_cachable(
        own_or_parent(*children, *parent_, "Cachable", {"WriteThrough", "WriteAround", "NoCache"}),
        cache_mode::NoCache);
    unsigned_ = read_sign(*children);
    bits_ = parse_bit_range(*children);
    set_actual_access_mode(read_access_mode(own_or_parent(*children, *parent_, "AccessMode", {"RW", "RO", "WO"})));
}

void struct_entry_type::_resolve_references(IGenICamDoc& document, pugi::xml_node)
{
    parent_address_.resolve_references_len(*parent_, *this);
    cache_.port = resolve_port(document, *parent_);
}

// The entries of one StructReg share its register, each with a cache of its
// own: the others take the bytes this write gave the register. An older copy
// would put this entry's old bits back with the next read-modify-write, and an
// emptied one would leave a cache-only read (the settings saved at close)
// without the value the entry still holds.
void struct_entry_type::register_written(const location& at, std::uint64_t raw, std::uint32_t flags)
{
    share_with_siblings(at, raw, (flags & access_flags::cache_only) == 0);
}

// The same for bytes read from the device: a bit the device changed back (a
// command that finished) must not return with another entry's next write.
void struct_entry_type::register_read(const location& at, std::uint64_t raw)
{
    share_with_siblings(at, raw, true);
}

void struct_entry_type::share_with_siblings(const location& at, std::uint64_t raw, bool device_took_them)
{
    for (pugi::xml_node entry = element.parent().child("StructEntry"); entry;
         entry = entry.next_sibling("StructEntry")) {
        if (entry == element) {
            continue;
        }
        auto* sibling = dynamic_cast<struct_entry_type*>(services->find_node(entry.attribute("Name").value()));
        if (sibling != nullptr && sibling->element == entry) {
            sibling->cache_.take_written_integer(static_cast<std::uint64_t>(at.address), raw, at.length,
                                                 device_took_them);
        }
    }
}

result<std::int64_t> struct_entry_type::field_length(std::uint32_t flags)
{
    return parent_address_.evaluate_length(flags);
}

// The parent's length is refused outside 1 to 8 as IntReg's is: the cache
// holds at most 8 bytes.
result<bit_field_register::location> struct_entry_type::locate(std::uint32_t flags)
{
    const auto at = parent_address_.address_and_length(flags);
    if (!at) {
        return at.error();
    }
    const auto [address, length] = at.value();
    if (length < 1 || length > 8) {
        return out_of_range();
    }
    return location{address, length};
}

} // namespace GenICam::impl
