#pragma once
// Boolean nodes: a switch that maps true and false onto OnValue and OffValue.
// The number is kept in the node ("Value", boolean_Value_type) or in the node
// named by "pValue" (boolean_pValue_type).

#include "genicam/iboolean.h"
#include "genicam/implement_inode.h"
#include "genicam/link_or_value.h"
#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/node_base_impl_value.h"

#include <type_traits>

namespace GenICam::impl {

template <bool Linked>
class boolean_type final : public std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>,
                           public implement_inode<boolean_type<Linked>, IBoolean> {
    using layer = std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>;

public:
    // Reads OnValue and OffValue (defaults 1 and 0).
    explicit boolean_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return value_node_; }

    std::vector<INode*> get_selected_features() override { return this->resolve_node_list(); }
    std::error_code set_val(bool value, std::uint32_t flags) override;
    result<bool> get_val(std::uint32_t flags) override;
    // Without the access check; true when the default differs from OffValue.
    result<bool> get_default(std::uint32_t flags) override;

private:
    link_or_value<std::int64_t> default_;
    std::int64_t on_value_ = 1;
    std::int64_t off_value_ = 0;
    std::int64_t value_ = 0;      // boolean_Value_type
    INode* value_node_ = nullptr; // boolean_pValue_type
};

using boolean_Value_type = boolean_type<false>;
using boolean_pValue_type = boolean_type<true>;

extern template class boolean_type<false>;
extern template class boolean_type<true>;

} // namespace GenICam::impl
