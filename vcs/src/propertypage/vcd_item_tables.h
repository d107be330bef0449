#pragma once
// What a page can show, in items and elements: an item is one camera feature
// (exposure, gain, trigger, ...), an element one facet of it, offered through
// one or more interfaces. The built-in descriptors live as long as the module;
// the GenICam adapter builds more of the same kind from the camera.

#include <windows.h>
#include <strmif.h>

#include "propertypage/interface_kind.h"
#include "propertypage/item_data_ptr.h"
#include "propertypage/vcd_guid.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct element_interface {
    interface_id id = 0;
    interface_kind kind = interface_kind::switch_;
};

struct element_descriptor {
    GUID element_guid{};
    // Caption of switches and buttons, label of rows.
    std::wstring name;
    std::vector<element_interface> interfaces;
    // A positive value keeps the element off the page.
    std::int32_t hidden = 0;
    // The elements it is placed beside; null GUIDs when not used.
    GUID attached_to[2] = {};
};

struct item_descriptor;

// A new item-data object with its first reference, or none.
using create_item_data_fn = item_data_ptr (*)(IKsPropertySet* filter, const item_descriptor& descriptor);

struct item_descriptor {
    // None counts as "Exposure" when a page picks its items.
    std::optional<std::wstring> category;
    // Among descriptors of one item GUID the higher priority wins.
    std::int32_t priority = 0;
    GUID item_guid{};
    // The item's label; a descriptor without one is not shown.
    std::wstring item_name;
    create_item_data_fn create = nullptr;
    // In display order.
    std::vector<element_descriptor> elements;
};

// Elements that a page places on the item's label row.
namespace vcd_element {
inline constexpr GUID value = {0xb57d3000, 0x0ac6, 0x4819, {0xa6, 0x09, 0x27, 0x2a, 0x33, 0x14, 0x0a, 0xca}};
inline constexpr GUID auto_mode = {0xb57d3001, 0x0ac6, 0x4819, {0xa6, 0x09, 0x27, 0x2a, 0x33, 0x14, 0x0a, 0xca}};
inline constexpr GUID one_push = {0xb57d3002, 0x0ac6, 0x4819, {0xa6, 0x09, 0x27, 0x2a, 0x33, 0x14, 0x0a, 0xca}};
} // namespace vcd_element

// The ten built-in descriptors in registration order: Exposure, Gain,
// Partial scan, Binning factor, GPIO, Strobe, Trigger, Color Enhancement,
// WhiteBalance, Focus. Built on first use, never changed afterwards.
std::span<const item_descriptor> builtin_item_descriptors();

inline GUID to_guid(const vcd_guid& guid) noexcept
{
    GUID out{guid.data1, guid.data2, guid.data3, {}};
    std::memcpy(out.Data4, guid.data4.data(), sizeof(out.Data4));
    return out;
}
