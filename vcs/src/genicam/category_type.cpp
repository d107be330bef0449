#include "genicam/category_type.h"

#include "genicam/genicam_log.h"
#include "genicam/igenicam_doc.h"

#include <new>

namespace GenICam::impl {

void category_type::plan_extra(const element_children& children, alloc_itf& alloc)
{
    alloc.reserve(sizeof(INode*), children.count("pFeature"), 8, false);
}

category_type::category_type(const node_init& init)
    : node_base_impl_ignore_dependent(init)
{
    const std::size_t slots = init.children->count("pFeature");
    features_ = allocate_objects<INode*>(*init.alloc, slots);
    if (features_ == nullptr && slots != 0) {
        throw std::bad_alloc();
    }
    slot_count_ = static_cast<std::uint32_t>(slots);
    for (std::uint32_t i = 0; i < slot_count_; ++i) {
        features_[i] = nullptr;
    }
}

void category_type::_resolve_references(IGenICamDoc& document, pugi::xml_node)
{
    feature_count_ = 0;
    for (const child_element& feature : children->all("pFeature")) {
        if (feature_count_ == slot_count_) {
            break;
        }
        const std::string_view text = feature.text;
        if (INode* found = document.find_node(text)) {
            features_[feature_count_++] = found;
        } else {
            GENICAM_LOG(2, "Category (\"%s\"). Failed to resolve \"pFeature\" for feature=%.*s.\n", name_text(),
                        static_cast<int>(text.size()), text.data());
        }
    }
}

std::vector<INode*> category_type::get_features()
{
    return std::vector<INode*>(features_, features_ + feature_count_);
}

} // namespace GenICam::impl
