#pragma once
// Enumeration nodes: an integer shown and chosen as one of the entries. The
// value is kept in the node ("Value", enumeration_Value_type) or in the node
// named by "pValue" (enumeration_pValue_type).

#include "genicam/enum_entry_type.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/node_base_impl_value.h"

#include <type_traits>

namespace GenICam::impl {

template <bool Linked>
class enumeration_type final
    : public std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>,
      public implement_inode<enumeration_type<Linked>, IEnumeration> {
    using layer = std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>;

public:
    // One entry record per "EnumEntry" child, in the arena.
    static void plan_extra(const element_children& children, alloc_itf& alloc);

    // Builds the entries, in document order.
    explicit enumeration_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return value_node_; }

    std::optional<std::int64_t> get_polling_time() override;
    std::vector<INode*> get_selected_features() override { return this->resolve_node_list(); }
    std::vector<IEnumEntry*> get_entries() override;
    std::error_code set_entry(IEnumEntry* entry, std::uint32_t flags) override;
    result<IEnumEntry*> get_entry(std::uint32_t flags) override;
    IEnumEntry* find_entry_by_numeric_value(double value) override;
    IEnumEntry* find_entry_by_value(std::int64_t value) override;
    IEnumEntry* find_entry_by_name(std::string_view name) override;
    std::span<enum_entry_type> entry_span() override { return {entries_, entry_count_}; }

private:
    enum_entry_type* entries_ = nullptr;
    std::size_t entry_count_ = 0;
    std::int64_t value_ = 0;        // enumeration_Value_type
    INode* value_node_ = nullptr;   // enumeration_pValue_type
};

using enumeration_Value_type = enumeration_type<false>;
using enumeration_pValue_type = enumeration_type<true>;

extern template class enumeration_type<false>;
extern template class enumeration_type<true>;

} // namespace GenICam::impl
