#include "genicam/string_reg_type.h"

#include "genicam/genicam_log.h"
#include "genicam/xml_value_readers.h"

#include <string>

namespace GenICam::impl {

namespace {

std::error_code error(errc e)
{
    return make_error_code(e);
}

} // namespace

// StringReg

string_reg_type::string_reg_type(const node_init& init) : node_base_impl_value(init)
{
    cache_.mode = read_cachable(*children, cache_mode::WriteThrough);
    set_actual_access_mode(read_access_mode(*children));
}

void string_reg_type::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    address_.resolve_references_len(*children, *this);
    cache_.port = resolve_port(document, *children);
}

// A length from the description or a pLength node is checked before it
// sizes anything.
result<std::pair<std::int64_t, std::int64_t>> string_reg_type::checked_address(std::uint32_t flags)
{
    const auto at = address_.address_and_length(flags);
    if (!at) {
        return at.error();
    }
    if (at.value().second < 0 || at.value().second > max_string_reg_length) {
        return error(errc::index_out_of_range);
    }
    return at;
}

result<std::string> string_reg_type::get_val(std::uint32_t flags)
{
    if (const std::error_code denied = check_access(false, flags)) {
        return denied;
    }
    const auto at = checked_address(flags);
    if (!at) {
        return at.error();
    }
    if (!cache_.port) {
        return error(errc::not_implemented);
    }
    return cache_.read_string(static_cast<std::uint64_t>(at.value().first), at.value().second, flags);
}

std::error_code string_reg_type::set_val(std::string_view value, std::uint32_t flags)
{
    if (const std::error_code denied = check_access(true, flags)) {
        return denied;
    }
    const auto at = checked_address(flags);
    if (!at) {
        return at.error();
    }
    const auto [address_value, length] = at.value();
    const auto address = static_cast<std::uint64_t>(address_value);
    if (!cache_.port) {
        return error(errc::not_implemented);
    }
    // A longer text would run past the register block on the device.
    if (value.size() > static_cast<std::uint64_t>(length)) {
        return error(errc::index_out_of_range);
    }
    // The whole register is written: the text, then zeros to its end, so that
    // reading it back gives this text and no tail of a longer one written
    // before. A text as long as the register fills it without a terminator.
    std::string image(value);
    image.resize(static_cast<std::size_t>(length), '\0');
    if (flags & access_flags::cache_only) {
        if (cache_.mode == cache_mode::NoCache) {
            return error(errc::not_implemented);
        }
        cache_.update_string_cache(address, image.data(), length);
        propagate_change();
        return {};
    }
    // A refused text leaves the cache as it was: the device still holds the
    // text cached before, which the settings saved at close must find.
    if (const std::error_code r = cache_.port->write(address, image.data(), length, flags)) {
        return r;
    }
    cache_.take_written_text(address, image);
    propagate_change();
    return {};
}

// Register

register_type::register_type(const node_init& init) : node_base_impl_value(init)
{
    set_actual_access_mode(read_access_mode(*children));
}

void register_type::_resolve_references(IGenICamDoc& document, pugi::xml_node element)
{
    address_.resolve_references_len(*children, *this);
    port_ = resolve_port(document, *children);
    if (!port_) {
        GENICAM_LOG(1, "Register (\"%s\"). Failed resolve port.\n", name_text());
    }
}

std::optional<std::int64_t> register_type::get_polling_time()
{
    return read_polling_time(*children);
}

std::error_code register_type::get_bytes(void* buffer, std::int64_t length, std::uint32_t flags)
{
    if (const std::error_code denied = check_access(false, flags)) {
        return denied;
    }
    if (!port_) {
        return error(errc::not_implemented);
    }
    const auto at = address_.address_and_length(flags);
    if (!at) {
        return at.error();
    }
    if (length < 1 || length > at.value().second) {
        return error(errc::invalid_parameter);
    }
    return port_->read(static_cast<std::uint64_t>(at.value().first), buffer, length, flags);
}

std::error_code register_type::set_bytes(const void* data, std::int64_t length, std::uint32_t flags)
{
    if (!port_) {
        return error(errc::not_implemented);
    }
    if (const std::error_code denied = check_access(true, flags)) {
        return denied;
    }
    const auto at = address_.address_and_length(flags);
    if (!at) {
        return at.error();
    }
    if (length < 1 || length > at.value().second) {
        return error(errc::invalid_parameter);
    }
    const std::error_code r = port_->write(static_cast<std::uint64_t>(at.value().first), data, length, flags);
    if (!r) {
        propagate_change();
    }
    return r;
}

result<std::int64_t> register_type::get_address(std::uint32_t flags)
{
    const auto at = address_.address_and_length(flags);
    if (!at) {
        return at.error();
    }
    return at.value().first;
}

result<std::int64_t> register_type::get_length(std::uint32_t flags)
{
    return address_.evaluate_length(flags);
}

} // namespace GenICam::impl
