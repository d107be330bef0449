#pragma once
// A Category groups features for presentation; it has no value.

#include "genicam/icategory.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_ignore_dependent.h"

#include <cstdint>

namespace GenICam::impl {

class category_type final : public node_base_impl_ignore_dependent, public implement_inode<category_type, ICategory> {
public:
    // One arena slot per "pFeature" child.
    static void plan_extra(const element_children& children, alloc_itf& alloc);

    explicit category_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    std::vector<INode*> get_features() override;

private:
    INode** features_ = nullptr;
    std::uint32_t slot_count_ = 0;
    std::uint32_t feature_count_ = 0;
};

} // namespace GenICam::impl
