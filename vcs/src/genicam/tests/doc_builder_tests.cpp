#include "genicam/doc_builder.h"
#include "genicam/gcxml_node_writers.h"
#include "gcxml_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace gcxml;
using gcxml_test::lines;

constexpr std::uint64_t service_start = 0xBCEA541200040000;

constexpr std::string_view expected_root =
    "<RegisterDescription ModelName=\"Model\" VendorName=\"Vendor\" ToolTip=\"ToolTip\" SchemaMajorVersion=\"1\" "
    "SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\" MinorVersion=\"0\" "
    "SubMinorVersion=\"0\" ProductGuid=\"BA6EF337-D2B4-43C2-8C12-8D6FF2D399AD\" "
    "VersionGuid=\"763b3ed5-8038-4da0-b14f-e41b7589e4f3\" StandardNameSpace=\"GEV\" "
    "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.genicam.org/GenApi/Version_1_1 "
    "http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd\">";

TEST(doc_builder, empty_document_holds_declaration_root_attributes_and_device_port)
{
    doc_builder builder(service_start);
    build_document(builder.doc);
    const std::string text = write_register_description(builder.doc, "Vendor", "Model", "ToolTip");
    EXPECT_EQ(text, lines({
                        "<?xml version=\"1.0\"?>",
                        expected_root,
                        "><Port Name=\"Device\" />",
                        "</RegisterDescription>",
                    }));
    // The document stays with the builder.
    ASSERT_TRUE(builder.doc);
    EXPECT_TRUE(builder.doc->register_description.child("Port"));
}

TEST(doc_builder, automatic_addresses_are_8_apart_and_fixed_ones_leave_the_counter)
{
    doc_builder builder(service_start);
    build_document(builder.doc);

    const auto first = builder.add_int_reg(int_reg_desc("A_Reg"));
    float_reg_desc fixed("Fixed_Reg");
    fixed.address = 0x20;
    const auto middle = builder.add_float_reg(fixed);
    const auto second = builder.add_float_reg(float_reg_desc("B_Reg"));

    EXPECT_EQ(first, std::make_pair(std::string("A_Reg"), std::uint64_t{0xBCEA541200040008}));
    EXPECT_EQ(middle, std::make_pair(std::string("Fixed_Reg"), std::uint64_t{0x20}));
    EXPECT_EQ(second, std::make_pair(std::string("B_Reg"), std::uint64_t{0xBCEA541200040010}));
    EXPECT_EQ(builder.last_address, 0xBCEA541200040010u);
    // The caller's record keeps its own address.
    EXPECT_EQ(fixed.address, 0x20u);

    const std::string text = write_register_description(builder.doc, "Vendor", "Model", "ToolTip");
    EXPECT_EQ(text, lines({
                        "<?xml version=\"1.0\"?>",
                        expected_root,
                        "><IntReg Name=\"A_Reg\">",
                        ">><Address>0xBCEA541200040008</Address>",
                        ">><Length>4</Length>",
                        ">><AccessMode>RW</AccessMode>",
                        ">><pPort>Device</pPort>",
                        ">><Endianess>LittleEndian</Endianess>",
                        "></IntReg>",
                        "><FloatReg Name=\"Fixed_Reg\">",
                        ">><Address>0x20</Address>",
                        ">><Length>4</Length>",
                        ">><AccessMode>RW</AccessMode>",
                        ">><pPort>Device</pPort>",
                        ">><Endianess>LittleEndian</Endianess>",
                        "></FloatReg>",
                        "><FloatReg Name=\"B_Reg\">",
                        ">><Address>0xBCEA541200040010</Address>",
                        ">><Length>4</Length>",
                        ">><AccessMode>RW</AccessMode>",
                        ">><pPort>Device</pPort>",
                        ">><Endianess>LittleEndian</Endianess>",
                        "></FloatReg>",
                        "><Port Name=\"Device\" />",
                        "</RegisterDescription>",
                    }));
}

TEST(doc_builder, nodes_keep_their_order_and_the_port_comes_last)
{
    doc_builder builder(service_start);
    build_document(builder.doc);
    const pugi::xml_node parent = builder.register_description();

    boolean_desc enable("Enable");
    enable.value = value_ref::link(builder.add_int_reg(int_reg_desc("Enable_Reg")).first);
    write_bool_node(parent, enable);
    int_swissknife_desc locked("Locked");
    locked.variables = {{"enabled", "Enable_Reg"}};
    locked.formula = "enabled = 0 ? 1 : 0";
    genapi_xml_writer::write_int_swissknife_node(parent, locked);
    const reg_ref gain = add_float_register(builder, float_reg_desc("Gain_Reg"));
    float_desc gain_node("Gain");
    gain_node.value = value_ref::link(gain.name);
    genapi_xml_writer::write_float_node(parent, gain_node);

    const std::string text = write_register_description(builder.doc, "V", "M", "T");
    pugi::xml_document back;
    ASSERT_TRUE(back.load_string(text.c_str()));
    std::vector<std::string> order;
    for (const pugi::xml_node child : back.child("RegisterDescription").children())
        order.push_back(std::string(child.name()) + ":" + child.attribute("Name").value());
    EXPECT_EQ(order, (std::vector<std::string>{"IntReg:Enable_Reg", "Boolean:Enable", "IntSwissKnife:Locked",
                                               "FloatReg:Gain_Reg", "Float:Gain", "Port:Device"}));
    EXPECT_EQ(gain.address, 0xBCEA541200040010u);
    EXPECT_EQ(text.rfind("</RegisterDescription>\n"), text.size() - 23);
}

TEST(doc_builder, caller_texts_in_root_attributes_are_escaped)
{
    doc_builder builder(0);
    build_document(builder.doc);
    const std::string text = write_register_description(builder.doc, "A&B \"V\"", "<M\xC3\xBC>", "t");
    pugi::xml_document back;
    ASSERT_TRUE(back.load_string(text.c_str()));
    const pugi::xml_node root = back.child("RegisterDescription");
    EXPECT_STREQ(root.attribute("VendorName").value(), "A&B \"V\"");
    EXPECT_STREQ(root.attribute("ModelName").value(), "<M\xC3\xBC>");
    // Counting from 0, the first automatic address is 8.
    EXPECT_EQ(builder.add_int_reg(int_reg_desc("R")).second, 8u);
}

TEST(doc_builder, build_document_replaces_an_earlier_document)
{
    doc_builder builder(service_start);
    build_document(builder.doc);
    builder.add_int_reg(int_reg_desc("Old_Reg"));
    build_document(builder.doc);
    const std::string text = write_register_description(builder.doc, "V", "M", "T");
    EXPECT_EQ(text.find("Old_Reg"), std::string::npos);
}

TEST(doc_builder, without_a_document_nothing_is_written_and_the_text_is_empty)
{
    doc_builder builder(service_start);
    EXPECT_FALSE(builder.register_description());
    // Still answers the address that the register would have had.
    EXPECT_EQ(builder.add_int_reg(int_reg_desc("R")).second, 0xBCEA541200040008u);
    EXPECT_EQ(write_register_description(builder.doc, "V", "M", "T"), "");
}

} // namespace
