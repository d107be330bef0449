#pragma once
// Integer and Float nodes that keep their value: the read-only constant
// (a "Value" with ImposedAccessMode RO) and the writable value.

#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/numeric_face.h"

namespace GenICam::impl {

template <class T>
class numeric_constant_value_type final : public node_base_impl_dependent_cache,
                                          public numeric_face<numeric_constant_value_type<T>, T> {
public:
    explicit numeric_constant_value_type(const node_init& init)
        : node_base_impl_dependent_cache(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    // A constant refuses every write, without the access check.
    std::error_code set_val(T value, std::uint32_t flags) override;
    result<T> get_val(std::uint32_t flags) override;

    result<T> min_fallback(std::uint32_t) { return numeric_traits<T>::min_fallback(); }
    result<T> max_fallback(std::uint32_t) { return numeric_traits<T>::max_fallback(); }
    result<T> inc_fallback(std::uint32_t) { return numeric_traits<T>::inc_fallback(); }
    result<T> default_fallback(std::uint32_t) { return make_error_code(errc::not_implemented); }

private:
    T value_{};
};

template <class T>
class numeric_floating_value_type final : public node_base_impl_value,
                                          public numeric_face<numeric_floating_value_type<T>, T> {
public:
    explicit numeric_floating_value_type(const node_init& init)
        : node_base_impl_value(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    std::error_code set_val(T value, std::uint32_t flags) override;
    result<T> get_val(std::uint32_t flags) override;

    result<T> min_fallback(std::uint32_t) { return numeric_traits<T>::min_fallback(); }
    result<T> max_fallback(std::uint32_t) { return numeric_traits<T>::max_fallback(); }
    result<T> inc_fallback(std::uint32_t) { return numeric_traits<T>::inc_fallback(); }
    result<T> default_fallback(std::uint32_t) { return make_error_code(errc::not_implemented); }

private:
    T value_{};
};

using integer_constant_value_type = numeric_constant_value_type<std::int64_t>;
using float_constant_value_type = numeric_constant_value_type<double>;
using integer_floating_value_type = numeric_floating_value_type<std::int64_t>;
using float_floating_value_type = numeric_floating_value_type<double>;

extern template class numeric_constant_value_type<std::int64_t>;
extern template class numeric_constant_value_type<double>;
extern template class numeric_floating_value_type<std::int64_t>;
extern template class numeric_floating_value_type<double>;

} // namespace GenICam::impl
