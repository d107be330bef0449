#include "genicam/document_allocator.h"
#include "genicam/genicam_doc.h"
#include "genicam/icategory.h"
#include "genicam/iport.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using genicam_test::count_of;
using genicam_test::load;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::impl::genicam_doc;

std::vector<std::string> names_of(genicam_doc& doc)
{
    std::vector<std::string> names;
    doc.for_each_node([&](GenICam::INode& node) { names.emplace_back(node.get_name()); });
    return names;
}

TEST(genicam_doc, header_values_come_from_the_root_attributes)
{
    auto doc = load(R"(<RegisterDescription ModelName="Cam" VendorName="Corp" ToolTip="tip"
        StandardNameSpace="U3V" MajorVersion="0x10" MinorVersion="-1" SubMinorVersion="abc"/>)");
    EXPECT_EQ(doc->model_name(), "Cam");
    EXPECT_EQ(doc->vendor_name(), "Corp");
    EXPECT_EQ(doc->tool_tip(), "tip");
    EXPECT_EQ(doc->standard_name_space(), 4u);
    EXPECT_EQ(doc->major_version(), 16u);
    EXPECT_EQ(doc->minor_version(), 0u);
    EXPECT_EQ(doc->sub_minor_version(), 0u);

    auto other = load(R"(<Anything StandardNameSpace="u3v" MajorVersion="3"/>)");
    EXPECT_EQ(other->standard_name_space(), 0u);
    EXPECT_EQ(other->major_version(), 3u);
    EXPECT_EQ(other->model_name(), "");
}

TEST(genicam_doc, nodes_are_sorted_by_name_and_found_exactly)
{
    auto doc = load_nodes(R"(<Category Name="GainAuto"/><Category Name="Gain"/><Category Name="B"/>
        <Category Name="Ab"/><Category/>)");
    EXPECT_EQ(names_of(*doc), (std::vector<std::string>{"", "Ab", "B", "Gain", "GainAuto"}));
    ASSERT_NE(doc->find_node("Gain"), nullptr);
    EXPECT_EQ(doc->find_node("Gain")->get_name(), "Gain");
    EXPECT_EQ(doc->find_node("GainAuto")->get_name(), "GainAuto");
    EXPECT_EQ(doc->find_node("Gai"), nullptr);
    EXPECT_EQ(doc->find_node("gain"), nullptr);
    EXPECT_EQ(doc->find_node(""), nullptr) << "a node without a name cannot be found";
    EXPECT_EQ(doc->find_port(""), nullptr);
}

TEST(genicam_doc, groups_and_struct_regs_are_transparent_at_any_depth)
{
    auto doc = load_nodes(R"(<Group Comment="a"><Group><Category Name="Inner"/></Group></Group>
        <StructReg Comment="s"><Category Name="InStruct"/></StructReg><Group/><Category Name="Top"/>)");
    EXPECT_EQ(names_of(*doc), (std::vector<std::string>{"InStruct", "Inner", "Top"}));
}

TEST(genicam_doc, debug_properties_are_hidden_unless_asked_for)
{
    const std::string nodes = R"(
        <Category Name="Hidden"><Extension><VCDIsDebugProperty>1</VCDIsDebugProperty></Extension></Category>
        <Category Name="Zero"><Extension><VCDIsDebugProperty>0</VCDIsDebugProperty></Extension></Category>
        <Category Name="Letters"><Extension><VCDIsDebugProperty>yes</VCDIsDebugProperty></Extension></Category>)";
    auto hidden = load_nodes(nodes, {true, false});
    EXPECT_EQ(names_of(*hidden), (std::vector<std::string>{"Letters", "Zero"}));
    genicam_doc by_bytes;
    const std::string text = genicam_test::description(nodes);
    ASSERT_TRUE(by_bytes.load_xml(text.data(), text.size(), 1, 0));
    const auto list = by_bytes.nodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->get_name(), "Letters");
    auto shown = load_nodes(nodes, {true, true});
    EXPECT_EQ(names_of(*shown), (std::vector<std::string>{"Hidden", "Letters", "Zero"}));
}

TEST(genicam_doc, document_order_list_follows_the_elements_not_the_names)
{
    auto doc = load_nodes(R"(<Integer Name="Zeta"><Value>1</Value></Integer>
        <Enumeration Name="Mode"><EnumEntry Name="Mode_B"><Value>0</Value></EnumEntry>
            <EnumEntry Name="Mode_A"><Value>1</Value></EnumEntry><Value>0</Value></Enumeration>
        <Group><Category Name="Beta"/></Group><Float Name="Alpha"><Value>1</Value></Float>)");
    std::vector<std::string> order;
    for (GenICam::INode* node : doc->nodes_in_document_order()) {
        order.emplace_back(node->get_name());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Zeta", "Mode", "Beta", "Alpha"}));
    EXPECT_EQ(names_of(*doc), (std::vector<std::string>{"Alpha", "Beta", "Mode", "Zeta"}));
}

TEST(genicam_doc, duplicate_names_both_stay_in_the_list)
{
    auto doc = load_nodes(R"(<Category Name="X"/><Category Name="Y"/><Category Name="X"/>)");
    EXPECT_EQ(names_of(*doc), (std::vector<std::string>{"X", "X", "Y"}));
    ASSERT_NE(doc->find_node("X"), nullptr);
}

TEST(genicam_doc, malformed_text_is_refused_with_its_offset)
{
    log_capture log;
    genicam_doc doc;
    const std::string text = "<RegisterDescription><Category Name=\"A\"></RegisterDescription>";
    EXPECT_FALSE(doc.load_xml(text.data(), text.size()));
    const std::string lines = log.text();
    EXPECT_NE(lines.find("The XML document does contain errors : \""), std::string::npos) << lines;
    EXPECT_NE(lines.find("@ offset="), std::string::npos) << lines;
    EXPECT_EQ(doc.find_node("A"), nullptr);
}

TEST(genicam_doc, text_without_terminating_zero_and_truncated_text_load_safely)
{
    const std::string full = genicam_test::description(R"(<Category Name="A"/>)");
    // A buffer whose last byte is part of the document, with no zero after it.
    std::vector<char> exact(full.begin(), full.end());
    genicam_doc doc;
    EXPECT_TRUE(doc.load_xml(exact.data(), exact.size()));
    EXPECT_NE(doc.find_node("A"), nullptr);
    log_capture log;
    for (std::size_t n = 0; n < full.size(); n += 7) {
        genicam_doc cut;
        cut.load_xml(full.data(), n); // must not crash, whatever it answers
    }
}

TEST(genicam_doc, a_second_load_is_refused_and_keeps_the_first)
{
    auto doc = load_nodes(R"(<Category Name="First"/>)");
    const std::string second = genicam_test::description(R"(<Category Name="Second"/>)");
    log_capture log;
    EXPECT_FALSE(doc->load_xml(second.data(), second.size()));
    EXPECT_NE(doc->find_node("First"), nullptr);
    EXPECT_EQ(doc->find_node("Second"), nullptr);
}

TEST(genicam_doc, deeply_nested_groups_do_not_exhaust_the_stack)
{
    const int depth = 100000;
    std::string xml = "<RegisterDescription>";
    for (int i = 0; i < depth; ++i) {
        xml += "<Group>";
    }
    xml += R"(<Category Name="Deep"/>)";
    for (int i = 0; i < depth; ++i) {
        xml += "</Group>";
    }
    xml += "</RegisterDescription>";
    auto doc = load(xml);
    EXPECT_NE(doc->find_node("Deep"), nullptr);
}

TEST(genicam_doc, node_count_report_lists_elements_and_every_class)
{
    auto empty = load("<RegisterDescription/>");
    const std::string report = empty->dump(0);
    EXPECT_EQ(report.rfind("doc type                          cnt\nstats Release", 0), 0u) << report;
    EXPECT_NE(report.find("\n      category_type                       0 "), std::string::npos) << report;
    EXPECT_NE(report.find("\nsum                                       0        0     0\n"), std::string::npos)
        << report;
    EXPECT_EQ(count_of(report, "\n      "), 32u) << "one row per class";

    auto doc = load_nodes(R"(<Category Name="A"/><Group><Category Name="B"/></Group><Unknown Name="U"/>)");
    const std::string counts = doc->dump(0);
    EXPECT_NE(counts.find("\n    Category                           2\n"), std::string::npos) << counts;
    EXPECT_EQ(counts.find("Unknown"), std::string::npos);
    EXPECT_EQ(doc->dump(2), "");
    EXPECT_EQ(doc->dump(1), "    A                                 -1\n    B                                 -1\n");
}

TEST(category_type, lists_the_features_it_finds_in_document_order)
{
    log_capture log;
    auto doc = load_nodes(R"(<Category Name="Root"><pFeature>A</pFeature><pFeature>Missing</pFeature>
        <pFeature>B</pFeature><pFeature>A</pFeature></Category><Category Name="A"/><Category Name="B"/>)");
    auto* root = dynamic_cast<GenICam::ICategory*>(doc->find_node("Root"));
    ASSERT_NE(root, nullptr);
    const auto features = root->get_features();
    ASSERT_EQ(features.size(), 3u);
    EXPECT_EQ(features[0]->get_name(), "A");
    EXPECT_EQ(features[1]->get_name(), "B");
    EXPECT_EQ(features[2]->get_name(), "A");
    EXPECT_EQ(root->get_node_type(), GenICam::node_type::Category);
    const std::string lines = log.text();
    EXPECT_EQ(count_of(lines, "Category (\"Root\"). Failed to resolve \"pFeature\" for feature=Missing.\n"), 1u)
        << lines;
    auto* a = dynamic_cast<GenICam::ICategory*>(doc->find_node("A"));
    EXPECT_TRUE(a->get_features().empty());
}

} // namespace


namespace {

TEST(genicam_doc, find_port_takes_an_empty_name_for_device_and_ignores_other_kinds)
{
    auto doc = load_nodes(R"(<Port Name="Device"/><Port Name="Chunk"><ChunkID>1A</ChunkID></Port>
        <Category Name="NotAPort"/>)");
    GenICam::IPort* device = doc->find_port("");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->get_name(), "Device");
    EXPECT_EQ(doc->find_port("Device"), device);
    ASSERT_NE(doc->find_port("Chunk"), nullptr);
    EXPECT_EQ(doc->find_port("NotAPort"), nullptr);
    EXPECT_EQ(doc->find_port("Missing"), nullptr);
}

TEST(genicam_doc, huge_attributes_and_empty_input_are_handled)
{
    const std::string huge(1 << 20, 'n');
    auto doc = load_nodes("<Category Name=\"" + huge + "\" ToolTip=\"" + huge + "\"/>");
    EXPECT_NE(doc->find_node(huge), nullptr);
    log_capture log;
    genicam_doc empty;
    EXPECT_FALSE(empty.load_xml("", 0));
    EXPECT_EQ(empty.model_name(), "");
    EXPECT_EQ(empty.dump(1), "");
}

TEST(document_allocator, refuses_what_would_pass_the_end_of_the_block)
{
    GenICam::impl::document_allocator arena;
    EXPECT_EQ(arena.allocate(8), nullptr) << "nothing before the block is prepared";
    arena.reserve(12, 2, 8, false); // two objects of 12 bytes: 24 rounded to 24
    arena.reserve(1, 1, 8, true);   // 8
    arena.prepare();
    EXPECT_EQ(arena.announced_bytes(), 32u);
    EXPECT_EQ(arena.announced_records(), 1u);
    void* a = arena.allocate_array(2, 12);
    void* b = arena.allocate(1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 24);
    EXPECT_NE(arena.allocate(16), nullptr) << "the 16 spare bytes of the block";
    EXPECT_EQ(arena.allocate(1), nullptr);
    EXPECT_EQ(arena.allocate_array(std::size_t{1} << 62, 16), nullptr) << "no wrap-around";
}

} // namespace
