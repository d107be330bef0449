#pragma once
// Integer and Float nodes whose value lives in the node named by "pValue".

#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/numeric_face.h"

namespace GenICam::impl {

template <class T>
class numeric_pValue_type final : public node_base_impl_dependent_cache,
                                  public numeric_face<numeric_pValue_type<T>, T> {
public:
    explicit numeric_pValue_type(const node_init& init)
        : node_base_impl_dependent_cache(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return value_node_; }

    std::error_code set_val(T value, std::uint32_t flags) override;
    result<T> get_val(std::uint32_t flags) override;

    result<T> min_fallback(std::uint32_t flags) { return delegate(&numeric_traits<T>::min_of, flags); }
    result<T> max_fallback(std::uint32_t flags) { return delegate(&numeric_traits<T>::max_of, flags); }
    result<T> inc_fallback(std::uint32_t flags) { return delegate(&numeric_traits<T>::inc_of, flags); }
    result<T> default_fallback(std::uint32_t flags) { return delegate(&numeric_traits<T>::default_of, flags); }

private:
    result<T> delegate(result<T> (*query)(INode&, std::uint32_t), std::uint32_t flags)
    {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        return query(*value_node_, flags);
    }

    INode* value_node_ = nullptr;
};

using integer_pValue_type = numeric_pValue_type<std::int64_t>;
using float_pValue_type = numeric_pValue_type<double>;

extern template class numeric_pValue_type<std::int64_t>;
extern template class numeric_pValue_type<double>;

} // namespace GenICam::impl
