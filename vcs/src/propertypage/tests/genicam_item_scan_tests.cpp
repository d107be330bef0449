#include "propertypage/genicam_item_scan.h"

#include "genicam/genicam_doc.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using genicam_adapter::scan_items;

constexpr const char* item_a = "{11111111-2222-3333-4444-555555555555}";
constexpr const char* item_b = "{11111111-2222-3333-4444-666666666666}";
constexpr const char* element_1 = "{AAAAAAAA-2222-3333-4444-000000000001}";
constexpr const char* element_2 = "{AAAAAAAA-2222-3333-4444-000000000002}";

std::string ext(const char* key, const char* text)
{
    return std::string("<Extension><") + key + ">" + text + "</" + key + "></Extension>";
}

std::unique_ptr<GenICam::impl::genicam_doc> load(const std::string& nodes)
{
    const std::string xml = "<RegisterDescription ModelName=\"M\" VendorName=\"V\">" + nodes + "</RegisterDescription>";
    auto doc = std::make_unique<GenICam::impl::genicam_doc>();
    EXPECT_TRUE(doc->load_xml(xml.data(), xml.size())) << xml;
    return doc;
}

bool every_feature(GenICam::INode&)
{
    return true;
}

TEST(genicam_item_scan, a_category_without_an_item_guid_is_searched_for_items)
{
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>Group</pFeature></Category>") +
                    "<Category Name=\"Group\">" + ext("VCDItemGUID", "not a guid") +
                    "<DisplayName>Lens group</DisplayName><pFeature>Zoom</pFeature></Category>" +
                    "<Category Name=\"Zoom\">" + ext("VCDItemGUID", item_a) +
                    "<DisplayName>Zoom item</DisplayName><pFeature>ZoomValue</pFeature></Category>" +
                    "<Integer Name=\"ZoomValue\">" + ext("VCDElementGUID", element_1) +
                    "<DisplayName>Zoom value</DisplayName><Value>3</Value></Integer>");
    const auto items = scan_items(*doc, every_feature);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].item_guid, *parse_braced_guid(item_a));
    EXPECT_EQ(items[0].category_name, "Lens group");
    EXPECT_EQ(items[0].item_name, "Zoom item");
    ASSERT_EQ(items[0].elements.size(), 1u);
    EXPECT_EQ(items[0].elements[0].display_name, "Zoom value");
    EXPECT_EQ(items[0].elements[0].kind, interface_kind::range);
    EXPECT_EQ(items[0].elements[0].feature, doc->find_node("ZoomValue"));
}

TEST(genicam_item_scan, only_value_features_with_an_element_guid_become_elements)
{
    auto doc =
        load(std::string("<Category Name=\"Root\"><pFeature>Item</pFeature><pFeature>Empty</pFeature></Category>") +
             "<Category Name=\"Item\">" + ext("VCDItemGUID", item_a) +
             "<pFeature>I</pFeature><pFeature>F</pFeature><pFeature>E</pFeature><pFeature>B</pFeature>"
             "<pFeature>C</pFeature><pFeature>S</pFeature><pFeature>Sub</pFeature>"
             "<pFeature>NoGuid</pFeature><pFeature>BadGuid</pFeature><pFeature>Hidden</pFeature></Category>" +
             "<Integer Name=\"I\">" + ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>" +
             "<Float Name=\"F\">" + ext("VCDElementGUID", element_1) + "<Value>1.5</Value></Float>" +
             "<Enumeration Name=\"E\">" + ext("VCDElementGUID", element_1) +
             "<EnumEntry Name=\"One\"><Value>1</Value></EnumEntry><Value>1</Value></Enumeration>" +
             "<Boolean Name=\"B\">" + ext("VCDElementGUID", element_1) + "<Value>0</Value></Boolean>" +
             "<Command Name=\"C\">" + ext("VCDElementGUID", element_1) +
             "<Value>0</Value><CommandValue>1</CommandValue></Command>" + "<String Name=\"S\">" +
             ext("VCDElementGUID", element_1) + "<Value>x</Value></String>" + "<Category Name=\"Sub\">" +
             ext("VCDElementGUID", element_1) + "</Category>" + "<Integer Name=\"NoGuid\"><Value>1</Value></Integer>" +
             "<Integer Name=\"BadGuid\">" + ext("VCDElementGUID", "{1234}") + "<Value>1</Value></Integer>" +
             "<Integer Name=\"Hidden\">" + ext("VCDElementGUID", element_2) + "<Value>1</Value></Integer>" +
             // An item whose only feature is a string gives no item at all.
             "<Category Name=\"Empty\">" + ext("VCDItemGUID", item_b) + "<pFeature>S</pFeature></Category>");
    const auto items = scan_items(*doc, [](GenICam::INode& feature) { return feature.get_name() != "Hidden"; });
    ASSERT_EQ(items.size(), 1u);
    const auto& elements = items[0].elements;
    ASSERT_EQ(elements.size(), 5u);
    const interface_kind expected[] = {interface_kind::range, interface_kind::absolute_value,
                                       interface_kind::map_strings, interface_kind::switch_, interface_kind::button};
    for (std::size_t i = 0; i < elements.size(); ++i) {
        EXPECT_EQ(elements[i].kind, expected[i]) << elements[i].feature->get_name();
    }
}

TEST(genicam_item_scan, categories_that_name_each_other_are_walked_once)
{
    // Root → A → B → A (cycle), B → Item; Item is also named twice.
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>A</pFeature><pFeature>Root</pFeature></Category>") +
                    "<Category Name=\"A\"><pFeature>B</pFeature><pFeature>Item</pFeature></Category>" +
                    "<Category Name=\"B\"><pFeature>A</pFeature><pFeature>Item</pFeature></Category>" +
                    "<Category Name=\"Item\">" + ext("VCDItemGUID", item_a) +
                    "<pFeature>V</pFeature><pFeature>Item</pFeature></Category>" + "<Integer Name=\"V\">" +
                    ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>");
    const auto items = scan_items(*doc, every_feature);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].elements.size(), 1u);
}

TEST(genicam_item_scan, an_exception_keeps_the_elements_gathered_before_it)
{
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>Item</pFeature></Category>") +
                    "<Category Name=\"Item\">" + ext("VCDItemGUID", item_a) +
                    "<pFeature>First</pFeature><pFeature>Second</pFeature><pFeature>Third</pFeature></Category>" +
                    "<Integer Name=\"First\">" + ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>" +
                    "<Integer Name=\"Second\">" + ext("VCDElementGUID", element_2) + "<Value>1</Value></Integer>" +
                    "<Integer Name=\"Third\">" + ext("VCDElementGUID", element_2) + "<Value>1</Value></Integer>");
    const auto items = scan_items(*doc, [](GenICam::INode& feature) -> bool {
        if (feature.get_name() == "Second") {
            throw std::runtime_error("lost");
        }
        return true;
    });
    ASSERT_EQ(items.size(), 1u);
    ASSERT_EQ(items[0].elements.size(), 1u);
    EXPECT_EQ(items[0].elements[0].feature->get_name(), "First");
}

TEST(genicam_item_scan, a_document_without_a_root_category_has_no_items)
{
    auto doc = load(std::string("<Integer Name=\"Root\"><Value>1</Value></Integer>"));
    EXPECT_TRUE(scan_items(*doc, every_feature).empty());
}

} // namespace
