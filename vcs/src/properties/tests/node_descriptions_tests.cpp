#include "properties/node_descriptions.h"
#include "properties/prop_meta_list.h"

#include "genicam/genicam_doc.h"
#include "genicam/iboolean.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace gcxml;

constexpr std::uint64_t service_start = 0xBCEA541200040000;

std::vector<std::pair<std::string, std::string>> entries_of(const node_desc& record)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const extension_entry& e : record.extensions) {
        out.emplace_back(e.name, e.text);
    }
    return out;
}

using entries = std::vector<std::pair<std::string, std::string>>;

TEST(prop_meta_list, placement_entries_need_their_guid_and_a_non_zero_order)
{
    struct row {
        vcd_info placement;
        entries expected;
    };
    const row rows[] = {
        {{"Tone", "Enable", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}", "Value",
          "{B57D3000-0AC6-4819-A609-272A33140ACA}", 3},
         {{"VCDCategoryName", "Tone"},
          {"VCDItemName", "Enable"},
          {"VCDItemGUID", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}"},
          {"VCDElementName", "Value"},
          {"VCDElementGUID", "{B57D3000-0AC6-4819-A609-272A33140ACA}"},
          {"VCDElementOrder", "3"}}},
        // A name without its GUID places nothing.
        {{"", "Enable", "", "Value", "", 0}, {}},
        {{"", "", "{1}", "", "", -1}, {{"VCDItemName", ""}, {"VCDItemGUID", "{1}"}, {"VCDElementOrder", "-1"}}},
        {{"", "", "", "Auto", "{2}", 0}, {{"VCDElementName", "Auto"}, {"VCDElementGUID", "{2}"}}},
    };
    for (const row& r : rows) {
        node_desc record("F");
        record.extensions.push_back({"Kept", "first"});
        prop_meta_list::add_vcd_info(record, r.placement);
        entries expected{{"Kept", "first"}};
        expected.insert(expected.end(), r.expected.begin(), r.expected.end());
        EXPECT_EQ(entries_of(record), expected) << r.placement.item_name << r.placement.element_order;
    }
    node_desc record("F");
    prop_meta_list::add_implementer_driver(record);
    prop_meta_list::add_implementer_driver(record);
    EXPECT_EQ(entries_of(record),
              (entries{{"PropertyImplementer", "Driver"}, {"PropertyImplementer", "Driver"}}));
}

TEST(prop_meta_list, guid_text_is_the_upper_case_registry_form)
{
    const prop_meta_list::guid_fields emulated{0x09D9C20F, 0x2A73, 0x43D2,
                                               {0xB6, 0x9C, 0x84, 0x5C, 0xC2, 0x58, 0x9C, 0x69}};
    EXPECT_EQ(prop_meta_list::guid_to_string(emulated), "{09D9C20F-2A73-43D2-B69C-845CC2589C69}");
    EXPECT_EQ(prop_meta_list::guid_to_string(emulated).size(), 38u);
    EXPECT_EQ(prop_meta_list::guid_to_string(prop_meta_list::guid_fields{}), "{00000000-0000-0000-0000-000000000000}");
    const prop_meta_list::guid_fields high{0xFFFFFFFF, 0xABCD, 0x000F, {0xFF, 0, 1, 0x10, 0x80, 0x7F, 0xA0, 0x0A}};
    EXPECT_EQ(prop_meta_list::guid_to_string(high), "{FFFFFFFF-ABCD-000F-FF00-0110807FA00A}");
}

TEST(node_descriptions, records_are_made_clean_whatever_they_held)
{
    int_reg_desc reg("old");
    reg.tool_tip = "tip";
    reg.extensions.push_back({"A", "B"});
    reg.visibility = visibility_kind::guru;
    reg.address = 0x10;
    reg.length = value_ref::link("Len");
    reg.access_mode = access_mode_kind::ro;
    reg.port = "Other";
    reg.cachable = cachable_kind::no_cache;
    reg.invalidators = {"X"};
    reg.streamable = yes_no::yes;
    gen_node_desc_create(reg, "New_Reg");
    EXPECT_EQ(reg.name, "New_Reg");
    EXPECT_TRUE(reg.tool_tip.empty() && reg.extensions.empty() && !reg.visibility);
    EXPECT_EQ(reg.address, 0u);
    EXPECT_EQ(reg.length.text, "4");
    EXPECT_EQ(reg.length.kind, ref_kind::literal);
    EXPECT_EQ(reg.access_mode, access_mode_kind::rw);
    EXPECT_TRUE(reg.port.empty() && !reg.cachable && reg.invalidators.empty() && !reg.streamable);

    boolean_desc flag("old");
    flag.invalidators = {"Y"};
    flag.do_not_serialize = true;
    flag.display_name = "Shown";
    make_boolean_desc(flag, "Flag", 1, 255);
    EXPECT_EQ(flag.name, "Flag");
    EXPECT_TRUE(flag.display_name.empty() && flag.invalidators.empty() && !flag.do_not_serialize);
    EXPECT_EQ(flag.value.text, "1");
    EXPECT_EQ(flag.value.kind, ref_kind::literal);
    EXPECT_EQ(flag.default_text, "255");
    EXPECT_EQ(flag.default_kind, ref_kind::literal);

    EXPECT_EQ(gen_node_desc_reg_name(node_desc("ToneMappingEnable")), "ToneMappingEnable_Reg");
    EXPECT_EQ(gen_node_desc_reg_name(node_desc("")), "_Reg");
}

TEST(node_descriptions, boolean_register_feature_takes_the_first_service_address_and_loads)
{
    doc_builder builder(service_start);
    build_document(builder.doc);
    boolean_desc feature;
    make_boolean_desc(feature, "ToneMappingEnable", 0, 1);
    const vcd_info placement{"Tone", "Tone Mapping", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}", "Enable",
                             "{B57D3000-0AC6-4819-A609-272A33140ACA}", 2};
    const reg_ref first = add_boolean_register_feature(builder, feature, placement, "ToneMappingImplemented");
    EXPECT_EQ(first.address, 0xBCEA541200040008u);
    EXPECT_EQ(first.name, "ToneMappingEnable_Reg");
    boolean_desc second;
    make_boolean_desc(second, "Other", 1, 0);
    EXPECT_EQ(add_boolean_register_feature(builder, second, {}, "").address, 0xBCEA541200040010u);
    EXPECT_EQ(feature.value.text, "ToneMappingEnable_Reg");
    EXPECT_EQ(feature.value.kind, ref_kind::link);

    const std::string text = write_register_description(builder.doc, "Vendor", "Model", "ToolTip");
    pugi::xml_document parsed;
    ASSERT_TRUE(parsed.load_string(text.c_str()));
    const pugi::xml_node root = parsed.child("RegisterDescription");
    const pugi::xml_node reg = root.find_child_by_attribute("IntReg", "Name", "ToneMappingEnable_Reg");
    ASSERT_TRUE(reg);
    EXPECT_STREQ(reg.child_value("Address"), "0xBCEA541200040008");
    EXPECT_STREQ(reg.child_value("Length"), "4");
    EXPECT_STREQ(reg.child_value("AccessMode"), "RW");
    EXPECT_STREQ(reg.child_value("pPort"), "Device");
    EXPECT_STREQ(reg.child_value("Endianess"), "LittleEndian");
    EXPECT_FALSE(reg.child("Sign"));
    const pugi::xml_node flag = root.find_child_by_attribute("Boolean", "Name", "ToneMappingEnable");
    ASSERT_TRUE(flag);
    EXPECT_STREQ(flag.child_value("pValue"), "ToneMappingEnable_Reg");
    EXPECT_STREQ(flag.child_value("pIsImplemented"), "ToneMappingImplemented");
    EXPECT_FALSE(root.find_child_by_attribute("Boolean", "Name", "Other").child("pIsImplemented"));

    GenICam::impl::genicam_doc doc;
    ASSERT_TRUE(doc.load_xml(text.data(), text.size(), 1, 0));
    auto* node = dynamic_cast<GenICam::IBoolean*>(doc.find_node("ToneMappingEnable"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->get_extension("VCDItemGUID"), "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}");
    EXPECT_EQ(node->get_extension("VCDElementOrder"), "2");
    EXPECT_EQ(node->get_extension("Default"), "1");
    EXPECT_NE(doc.find_port(""), nullptr);
}

TEST(node_descriptions, fragments_append_whole_or_not_at_all)
{
    doc_builder builder(service_start);
    EXPECT_EQ(append_xml_fragment(builder, "<Integer Name=\"A\"/>"), std::errc::operation_not_permitted);
    build_document(builder.doc);
    EXPECT_FALSE(append_xml_fragment(builder, R"(<Integer Name="A"><Value>1</Value></Integer>
        <!-- a comment --><Boolean Name="B"><Value>1</Value></Boolean>)"));
    EXPECT_EQ(append_xml_fragment(builder, "<Integer Name=\"C\"><Value>1</Value>"), std::errc::invalid_argument);
    EXPECT_EQ(append_xml_fragment(builder, std::string_view("<Integer Name=\"D\"/>\0<x", 23)),
              std::errc::invalid_argument);
    std::vector<std::string> names;
    for (pugi::xml_node child : builder.register_description().children()) {
        names.emplace_back(child.attribute("Name").value());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    const std::string text = write_register_description(builder.doc, "V", "M", "T");
    GenICam::impl::genicam_doc doc;
    ASSERT_TRUE(doc.load_xml(text.data(), text.size(), 1, 0));
    EXPECT_NE(doc.find_node("B"), nullptr);
}

} // namespace
