#include "genicam/numeric_value_type.h"

#include "genicam/genicam_log.h"

#include <type_traits>

namespace GenICam::impl {

namespace {

template <class T>
void log_unreadable_value(const node_base_data& node, bool constant)
{
    if constexpr (std::is_same_v<T, double>) {
        GENICAM_LOG(1, "Float (\"%s\"). Failed to parse \"Value\" xml element.\n", node.name_text());
    } else if (constant) {
        GENICAM_LOG(1, "%s, Integer (\"%s\"). Failed to parse or resolve \"Value\" xml element.\n",
                    "GenICam::impl::integer_constant_value_type::_resolve_references", node.name_text());
    } else {
        GENICAM_LOG(1, "Integer (\"%s\"). Failed to parse or resolve \"Value\" xml element.\n", node.name_text());
    }
}

template <class T>
T read_value(const node_base_data& node, bool constant)
{
    T value{};
    if (!numeric_traits<T>::parse_value(node.child("Value"), value)) {
        log_unreadable_value<T>(node, constant);
        return T{};
    }
    return value;
}

} // namespace

template <class T>
void numeric_constant_value_type<T>::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    this->read_limits();
    value_ = read_value<T>(*this, true);
}

template <class T>
std::error_code numeric_constant_value_type<T>::set_val(T, std::uint32_t)
{
    return make_error_code(errc::access_denied);
}

template <class T>
result<T> numeric_constant_value_type<T>::get_val(std::uint32_t flags)
{
    // The Float constant answers without the access check.
    if constexpr (!std::is_same_v<T, double>) {
        if (const std::error_code ec = check_access(false, flags)) {
            return ec;
        }
    }
    return value_;
}

template <class T>
void numeric_floating_value_type<T>::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    this->read_limits();
    value_ = read_value<T>(*this, false);
}

template <class T>
std::error_code numeric_floating_value_type<T>::set_val(T value, std::uint32_t flags)
{
    if (const std::error_code ec = check_access(true, flags)) {
        return ec;
    }
    if (const std::error_code ec = this->range_check(value, flags)) {
        return ec;
    }
    if (numeric_traits<T>::differs(value, value_)) {
        value_ = value;
        propagate_change();
    }
    return {};
}

template <class T>
result<T> numeric_floating_value_type<T>::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = check_access(false, flags)) {
        return ec;
    }
    return value_;
}

template class numeric_constant_value_type<std::int64_t>;
template class numeric_constant_value_type<double>;
template class numeric_floating_value_type<std::int64_t>;
template class numeric_floating_value_type<double>;

} // namespace GenICam::impl
