#include "propertypage/genicam_item_scan.h"

#include "genicam/genicam_doc.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
    // Root → A → B → A (cycle), Root → Root; A and B both name Item, which
    // names itself: an item of each group, and the walk ends.
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>A</pFeature><pFeature>Root</pFeature></Category>") +
                    "<Category Name=\"A\"><pFeature>B</pFeature><pFeature>Item</pFeature></Category>" +
                    "<Category Name=\"B\"><pFeature>A</pFeature><pFeature>Item</pFeature></Category>" +
                    "<Category Name=\"Item\">" + ext("VCDItemGUID", item_a) +
                    "<pFeature>V</pFeature><pFeature>Item</pFeature></Category>" + "<Integer Name=\"V\">" +
                    ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>");
    const auto items = scan_items(*doc, every_feature);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].category_name, "B") << "depth first: B's features come before A's next one";
    EXPECT_EQ(items[1].category_name, "A");
    for (const auto& item : items) {
        EXPECT_EQ(item.category, doc->find_node("Item"));
        EXPECT_EQ(item.elements.size(), 1u);
    }
}

// Every group that names an item category shows the item (a feature filed
// under both "Exposure" and "Color" is on both pages); the camera is asked
// about each element once.
TEST(genicam_item_scan, an_item_named_by_several_groups_is_an_item_of_each)
{
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>Exposure</pFeature><pFeature>Image</pFeature>"
                                "<pFeature>Color</pFeature></Category>") +
                    "<Category Name=\"Exposure\"><pFeature>Gain</pFeature></Category>" +
                    "<Category Name=\"Image\"><DisplayName>Picture</DisplayName><pFeature>Gain</pFeature></Category>" +
                    "<Category Name=\"Color\"><pFeature>Gain</pFeature></Category>" + "<Category Name=\"Gain\">" +
                    ext("VCDItemGUID", item_a) + "<DisplayName>Sensor gain</DisplayName>" +
                    "<pFeature>GainRaw</pFeature><pFeature>GainAuto</pFeature></Category>" +
                    "<Integer Name=\"GainRaw\">" + ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>" +
                    "<Boolean Name=\"GainAuto\">" + ext("VCDElementGUID", element_2) + "<Value>0</Value></Boolean>");
    std::map<std::string, int> asked;
    const auto items = scan_items(*doc, [&](GenICam::INode& feature) {
        ++asked[std::string(feature.get_name())];
        return true;
    });
    ASSERT_EQ(items.size(), 3u);
    const char* groups[] = {"Exposure", "Picture", "Color"};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].category_name, groups[i]);
        EXPECT_EQ(items[i].item_guid, *parse_braced_guid(item_a));
        EXPECT_EQ(items[i].item_name, "Sensor gain");
        ASSERT_EQ(items[i].elements.size(), 2u) << groups[i];
        EXPECT_EQ(items[i].elements[0].feature, doc->find_node("GainRaw"));
        EXPECT_EQ(items[i].elements[1].feature, doc->find_node("GainAuto"));
    }
    EXPECT_EQ(asked, (std::map<std::string, int>{{"GainAuto", 1}, {"GainRaw", 1}}));
}

TEST(genicam_item_scan, a_group_records_an_item_once_however_often_it_is_reached)
{
    // Exposure names Gain twice; Gain and Tone, both items, name each other;
    // Exposure and Color both name the plain Shared, which names Zoom.
    auto doc = load(std::string("<Category Name=\"Root\"><pFeature>Exposure</pFeature><pFeature>Color</pFeature>"
                                "</Category>") +
                    "<Category Name=\"Exposure\"><pFeature>Gain</pFeature><pFeature>Shared</pFeature>"
                    "<pFeature>Gain</pFeature><pFeature>Tone</pFeature></Category>" +
                    "<Category Name=\"Color\"><pFeature>Tone</pFeature><pFeature>Shared</pFeature></Category>" +
                    "<Category Name=\"Shared\"><pFeature>Zoom</pFeature><pFeature>Zoom</pFeature></Category>" +
                    "<Category Name=\"Gain\">" + ext("VCDItemGUID", item_a) +
                    "<pFeature>V</pFeature><pFeature>Tone</pFeature></Category>" + "<Category Name=\"Tone\">" +
                    ext("VCDItemGUID", item_b) + "<pFeature>V</pFeature><pFeature>Gain</pFeature></Category>" +
                    "<Category Name=\"Zoom\">" + ext("VCDItemGUID", item_b) + "<pFeature>V</pFeature></Category>" +
                    "<Integer Name=\"V\">" + ext("VCDElementGUID", element_1) + "<Value>1</Value></Integer>");
    const auto items = scan_items(*doc, every_feature);
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& item : items) {
        found.emplace_back(item.category_name, item.category->get_name());
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Exposure", "Gain"}, {"Shared", "Zoom"}, {"Exposure", "Tone"}, {"Color", "Tone"}};
    EXPECT_EQ(found, expected);
}

TEST(genicam_item_scan, an_item_is_an_item_of_the_first_sixteen_groups_that_name_it)
{
    // Seventeen groups name Gain; only the seventeenth also names Tone: the
    // limit counts the groups of each item apart.
    ASSERT_EQ(genicam_adapter::max_groups_per_item, 16u);
    std::string root = "<Category Name=\"Root\">";
    std::string groups;
    for (int g = 1; g <= 17; ++g) {
        const std::string name = "G" + std::to_string(g);
        root += "<pFeature>" + name + "</pFeature>";
        groups += "<Category Name=\"" + name + "\"><pFeature>Gain</pFeature>" +
                  (g == 17 ? "<pFeature>Tone</pFeature>" : "") + "</Category>";
    }
    auto doc = load(root + "</Category>" + groups + "<Category Name=\"Gain\">" + ext("VCDItemGUID", item_a) +
                    "<pFeature>V</pFeature></Category>" + "<Category Name=\"Tone\">" + ext("VCDItemGUID", item_b) +
                    "<pFeature>V</pFeature></Category>" + "<Integer Name=\"V\">" + ext("VCDElementGUID", element_1) +
                    "<Value>1</Value></Integer>");
    std::vector<std::string> gain_groups;
    std::vector<std::string> tone_groups;
    for (const auto& item : scan_items(*doc, every_feature)) {
        (item.category->get_name() == "Gain" ? gain_groups : tone_groups).emplace_back(item.category_name);
    }
    ASSERT_EQ(gain_groups.size(), 16u);
    EXPECT_EQ(gain_groups.front(), "G1");
    EXPECT_EQ(gain_groups.back(), "G16");
    EXPECT_EQ(tone_groups, std::vector<std::string>{"G17"});
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
