#pragma once
// Integer and Float nodes whose value is chosen by the current value of an
// Integer index node ("pIndex") from a table of linked nodes and literals.

#include "genicam/node_base_impl_value.h"
#include "genicam/numeric_face.h"
#include "genicam/value_eval_indexed.h"

namespace GenICam::impl {

template <class T>
class numeric_pIndex_type final : public node_base_impl_value, public numeric_face<numeric_pIndex_type<T>, T> {
    using traits = numeric_traits<T>;
    using representation = decltype(std::declval<typename traits::iface&>().get_representation());

public:
    explicit numeric_pIndex_type(const node_init& init)
        : node_base_impl_value(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    // The selected row's node when it is of this family.
    INode* access_mode_peer() override { return selected_family_node(0); }

    // A row with a node passes the write on and answers that node's code; a
    // row with a literal stores the value in the table.
    std::error_code set_val(T value, std::uint32_t flags) override;
    result<T> get_val(std::uint32_t flags) override;

    representation get_representation() override;
    std::string_view get_unit() override;
    display_notation display_notation_of_node();
    std::int32_t display_precision_of_node();

    result<T> min_fallback(std::uint32_t flags);
    result<T> max_fallback(std::uint32_t flags);
    result<T> inc_fallback(std::uint32_t flags);
    result<T> default_fallback(std::uint32_t flags);

private:
    // The selected row; the index read's error when it fails.
    result<indexed_entry<T>*> select_row(std::uint32_t flags);
    // The selected row's node, or none (also when the index cannot be read).
    INode* selected_node(std::uint32_t flags);
    typename traits::iface* selected_family_node(std::uint32_t flags);

    INode* index_node_ = nullptr;
    value_eval_indexed<T> table_;
};

using integer_pIndex_type = numeric_pIndex_type<std::int64_t>;
using float_pIndex_type = numeric_pIndex_type<double>;

extern template class numeric_pIndex_type<std::int64_t>;
extern template class numeric_pIndex_type<double>;

} // namespace GenICam::impl
