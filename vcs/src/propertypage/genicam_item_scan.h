#pragma once
// Finds the items and elements that a GenICam description marks for the
// property pages. An item is a category whose extension entry "VCDItemGUID"
// holds a GUID; its elements are the value features directly inside it whose
// "VCDElementGUID" holds one. Categories without an item GUID are searched for
// items in turn, starting at "Root".

#include "propertypage/interface_kind.h"
#include "propertypage/vcd_guid.h"

#include "genicam/icategory.h"
#include "genicam/igenicam_doc.h"

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace genicam_adapter {

struct scanned_element {
    vcd_guid guid;
    GenICam::INode* feature = nullptr;
    // Views into the document's text: valid while the document lives.
    std::string_view display_name;
    interface_kind kind = interface_kind::switch_;
};

struct scanned_item {
    vcd_guid item_guid;
    GenICam::ICategory* category = nullptr;
    // Display name of the category that names the item's category.
    std::string_view category_name;
    // Display name of the item's category itself.
    std::string_view item_name;
    std::vector<scanned_element> elements;
};

// Whether a feature exists on the camera; asked once per candidate element.
using implemented_test = std::function<bool(GenICam::INode& feature)>;

// The element kind of a feature: integer range, float absolute value,
// enumeration map strings, boolean switch, command button; false for every
// other node kind.
bool element_kind_of(GenICam::INode& feature, interface_kind& kind) noexcept;

// An item category is an item of at most this many groups: each group copies
// the item's elements, and a description that names one item from thousands
// of groups would otherwise cost their product in memory.
inline constexpr std::size_t max_groups_per_item = 16;

// Items of one document in walk order (depth first, each category's features
// in its order). An item category is an item of every category that names it
// (the first max_groups_per_item of them), once per naming category, with the
// same elements in each; item categories are not searched for items.
// Categories without an item GUID are walked at most once, so categories that
// name each other in a cycle end the walk instead of the stack. Items without
// an element are left out. An exception while an item's elements are collected
// ends that item's collection with what it gathered.
std::vector<scanned_item> scan_items(GenICam::IGenICamDoc& document, const implemented_test& is_implemented);

} // namespace genicam_adapter
