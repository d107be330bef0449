#pragma once
// Metadata of the features that the service adds to its own GenICam document:
// entries of the node's Extension element that tell the property pages which
// page, item and element show the feature, and that the service (not the
// camera) implements it. Entries keep insertion order; duplicates stay.

#include "genicam/gcxml_records.h"
#include "properties/vcd_info.h"

#include <array>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <guiddef.h>
#endif

namespace prop_meta_list {

// The fields of a GUID, in their order, without the Windows type.
struct guid_fields {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
};

// The registry form: braces, upper-case hexadecimal, 38 characters, e.g.
// "{B57D3000-0AC6-4819-A609-272A33140ACA}".
std::string guid_to_string(const guid_fields& guid);

#ifdef _WIN32
inline std::string guid_to_string(const GUID& guid)
{
    guid_fields fields{guid.Data1, guid.Data2, guid.Data3, {}};
    for (std::size_t i = 0; i < fields.data4.size(); ++i) {
        fields.data4[i] = guid.Data4[i];
    }
    return guid_to_string(fields);
}
#endif

// Appends ("PropertyImplementer", "Driver").
void add_implementer_driver(gcxml::node_desc& description);

// Appends the placement's entries: the category name when it is not empty;
// item name and item GUID when the item GUID is not empty; element name and
// element GUID when the element GUID is not empty; the element order as
// signed decimal text when it is not 0.
void add_vcd_info(gcxml::node_desc& description, const gcxml::vcd_info& placement);

} // namespace prop_meta_list
