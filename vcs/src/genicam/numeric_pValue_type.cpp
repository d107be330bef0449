#include "genicam/numeric_pValue_type.h"

#include "genicam/genicam_log.h"

namespace GenICam::impl {

template <class T>
void numeric_pValue_type<T>::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    this->read_limits();
    value_node_ = services->find_node(child("pValue"));
    if (value_node_ != nullptr) {
        value_node_->get_eval().add_dependent(*this);
    } else {
        GENICAM_LOG(1, "%s (\"%s\"). Failed to parse or resolve \"pValue\" xml element.\n", numeric_traits<T>::family,
                    name_text());
    }
}

template <class T>
std::error_code numeric_pValue_type<T>::set_val(T value, std::uint32_t flags)
{
    if (const std::error_code ec = check_access(true, flags)) {
        return ec;
    }
    if (const std::error_code ec = this->range_check(value, flags)) {
        return ec;
    }
    if (value_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    return set_eval_val(*value_node_, value, flags);
}

template <class T>
result<T> numeric_pValue_type<T>::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = check_access(false, flags)) {
        return ec;
    }
    if (value_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    return numeric_traits<T>::read(*value_node_, flags);
}

template class numeric_pValue_type<std::int64_t>;
template class numeric_pValue_type<double>;

} // namespace GenICam::impl
