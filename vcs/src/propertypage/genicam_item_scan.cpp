#include "propertypage/genicam_item_scan.h"

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <unordered_set>

namespace genicam_adapter {

namespace {

GenICam::ICategory* as_category(GenICam::INode* node) noexcept
{
    if (node == nullptr || node->get_node_type() != GenICam::node_type::Category) {
        return nullptr;
    }
    return dynamic_cast<GenICam::ICategory*>(node);
}

void collect_elements(scanned_item& item, const implemented_test& is_implemented)
{
    try {
        for (GenICam::INode* feature : item.category->get_features()) {
            if (feature == nullptr) {
                continue;
            }
            const vcd_guid guid = guid_or_null(feature->get_extension("VCDElementGUID"));
            if (guid.is_null() || !is_implemented(*feature)) {
                continue;
            }
            interface_kind kind{};
            if (!element_kind_of(*feature, kind)) {
                continue;
            }
            item.elements.push_back({guid, feature, feature->get_display_name(), kind});
        }
    } catch (const std::exception&) {
        // What was gathered before the failing feature stays.
    }
}

} // namespace

bool element_kind_of(GenICam::INode& feature, interface_kind& kind) noexcept
{
    switch (feature.get_node_type()) {
    case GenICam::node_type::Integer:
        kind = interface_kind::range;
        return true;
    case GenICam::node_type::Float:
        kind = interface_kind::absolute_value;
        return true;
    case GenICam::node_type::Enumeration:
        kind = interface_kind::map_strings;
        return true;
    case GenICam::node_type::Boolean:
        kind = interface_kind::switch_;
        return true;
    case GenICam::node_type::Command:
        kind = interface_kind::button;
        return true;
    default:
        return false;
    }
}

std::vector<scanned_item> scan_items(GenICam::IGenICamDoc& document, const implemented_test& is_implemented)
{
    std::vector<scanned_item> items;
    GenICam::ICategory* root = as_category(document.find_node("Root"));
    if (root == nullptr) {
        return items;
    }
    // Depth first without recursion: a description may nest categories deeper
    // than the stack would allow.
    struct frame {
        GenICam::ICategory* category;
        std::vector<GenICam::INode*> features;
        std::size_t next = 0;
    };
    // Categories without an item GUID are walked at most once, which ends
    // cycles (and keeps a category named by many groups from being walked
    // once per path). Item categories are never walked into; each is
    // recorded once for every group that names it.
    std::unordered_set<const GenICam::INode*> walked{root};
    std::unordered_map<const GenICam::INode*, std::vector<const GenICam::INode*>> groups_of_item;
    std::vector<frame> stack;
    stack.push_back({root, root->get_features()});
    while (!stack.empty()) {
        frame& top = stack.back();
        if (top.next == top.features.size()) {
            stack.pop_back();
            continue;
        }
        GenICam::ICategory* category = as_category(top.features[top.next++]);
        if (category == nullptr) {
            continue;
        }
        const vcd_guid item_guid = guid_or_null(category->get_extension("VCDItemGUID"));
        if (item_guid.is_null()) {
            if (walked.insert(category).second) {
                // `top` is not used after this: push_back may move it.
                stack.push_back({category, category->get_features()});
            }
            continue;
        }
        auto& groups = groups_of_item[category];
        const bool named_before = std::find(groups.begin(), groups.end(), top.category) != groups.end();
        if (!named_before && groups.size() < max_groups_per_item) {
            groups.push_back(top.category);
            items.push_back({item_guid, category, top.category->get_display_name(), category->get_display_name(), {}});
        }
    }

    // An item in several groups asks the camera about its elements once.
    std::unordered_map<const GenICam::ICategory*, const scanned_item*> collected;
    for (scanned_item& item : items) {
        const auto [first, fresh] = collected.emplace(item.category, &item);
        if (fresh) {
            collect_elements(item, is_implemented);
        } else {
            item.elements = first->second->elements;
        }
    }
    std::vector<scanned_item> with_elements;
    for (scanned_item& item : items) {
        if (!item.elements.empty()) {
            with_elements.push_back(std::move(item));
        }
    }
    return with_elements;
}

} // namespace genicam_adapter
