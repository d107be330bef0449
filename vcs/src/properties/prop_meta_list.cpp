#include "properties/prop_meta_list.h"

#include <fmt/format.h>

namespace prop_meta_list {

namespace {
void append(gcxml::node_desc& description, const char* key, std::string value)
{
    description.extensions.push_back({key, std::move(value)});
}
} // namespace

std::string guid_to_string(const guid_fields& guid)
{
    const auto& d = guid.data4;
    return fmt::format("{{{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}", guid.data1,
                       guid.data2, guid.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

void add_implementer_driver(gcxml::node_desc& description)
{
    append(description, "PropertyImplementer", "Driver");
}

void add_vcd_info(gcxml::node_desc& description, const gcxml::vcd_info& placement)
{
    if (!placement.category_name.empty()) {
        append(description, "VCDCategoryName", placement.category_name);
    }
    // An item or element is placed by its GUID; a name alone places nothing.
    if (!placement.item_guid.empty()) {
        append(description, "VCDItemName", placement.item_name);
        append(description, "VCDItemGUID", placement.item_guid);
    }
    if (!placement.element_guid.empty()) {
        append(description, "VCDElementName", placement.element_name);
        append(description, "VCDElementGUID", placement.element_guid);
    }
    if (placement.element_order != 0) {
        append(description, "VCDElementOrder", std::to_string(placement.element_order));
    }
}

} // namespace prop_meta_list
