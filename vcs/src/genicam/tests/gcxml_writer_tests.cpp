#include "genicam/gcxml_node_writers.h"
#include "genicam/gcxml_text.h"
#include "genicam/gcxml_writer.h"
#include "gcxml_test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

namespace {

using namespace gcxml;
using gcxml_test::lines;
using gcxml_test::print;

class gcxml_writer : public ::testing::Test {
protected:
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("RegisterDescription");

    template <typename Writer, typename Desc>
    std::string write(Writer writer, const Desc& desc)
    {
        writer(root, desc);
        return print(root.last_child());
    }
};

TEST_F(gcxml_writer, node_with_only_a_name_writes_a_single_attribute)
{
    EXPECT_EQ(write(write_bool_node, boolean_desc("B")), "<Boolean Name=\"B\" />\n");
    EXPECT_EQ(write(genapi_xml_writer::write_integer_node, integer_desc("I")), "<Integer Name=\"I\" />\n");
    EXPECT_EQ(write(genapi_xml_writer::write_float_node, float_desc("F")), "<Float Name=\"F\" />\n");
    EXPECT_EQ(write(genapi_xml_writer::write_enumeration_node, enumeration_desc("E")),
              "<Enumeration Name=\"E\" />\n");
    EXPECT_EQ(write(genapi_xml_writer::write_int_swissknife_node, int_swissknife_desc("S")),
              "<IntSwissKnife Name=\"S\" />\n");
    EXPECT_EQ(write(genapi_xml_writer::write_integer_node, integer_desc("")), "<Integer Name=\"\" />\n");
}

TEST_F(gcxml_writer, integer_writes_every_field_in_the_fixed_order)
{
    integer_desc d("Gain");
    d.name_space = "Custom";
    d.merge_priority = merge_priority_kind::high;
    d.expose_static = yes_no::no;
    d.extensions = {{"VCDItemName", "Gain"}};
    d.tool_tip = "tip";
    d.description = "text";
    d.display_name = "Gain dB";
    d.visibility = visibility_kind::guru;
    d.docu_url = "http://example.invalid/gain";
    d.is_deprecated = yes_no::yes;
    d.is_implemented = "GainImpl";
    d.is_available = "GainAvail";
    d.is_locked = "GainLock";
    d.imposed_access_mode = access_mode_kind::ro;
    d.invalidators = {"A", ""};
    d.streamable = yes_no::yes;
    d.value = value_ref::link("Gain_Reg");
    d.min = value_ref::literal("0");
    d.max = value_ref::link("GainMax");
    d.inc = value_ref::literal("1");
    d.unit = "dB";
    d.representation = int_representation::hex_number;
    d.default_text = "5";
    d.default_kind = ref_kind::literal;
    d.do_not_serialize = true;

    EXPECT_EQ(write(genapi_xml_writer::write_integer_node, d),
              lines({
                  "<Integer Name=\"Gain\" NameSpace=\"Custom\" MergePriority=\"+1\" ExposeStatic=\"No\">",
                  "><Extension>",
                  ">><VCDItemName>Gain</VCDItemName>",
                  ">><Default>5</Default>",
                  ">><DoNotSerialize>1</DoNotSerialize>",
                  "></Extension>",
                  "><ToolTip>tip</ToolTip>",
                  "><Description>text</Description>",
                  "><DisplayName>Gain dB</DisplayName>",
                  "><Visibility>Guru</Visibility>",
                  "><DocuURL>http://example.invalid/gain</DocuURL>",
                  "><IsDeprecated>Yes</IsDeprecated>",
                  "><pIsImplemented>GainImpl</pIsImplemented>",
                  "><pIsAvailable>GainAvail</pIsAvailable>",
                  "><pIsLocked>GainLock</pIsLocked>",
                  "><ImposedAccessMode>RO</ImposedAccessMode>",
                  "><pInvalidator>A</pInvalidator>",
                  "><pInvalidator></pInvalidator>",
                  "><Streamable>Yes</Streamable>",
                  "><pValue>Gain_Reg</pValue>",
                  "><Min>0</Min>",
                  "><pMax>GainMax</pMax>",
                  "><Inc>1</Inc>",
                  "><Unit>dB</Unit>",
                  "><Representation>HexNumber</Representation>",
                  "</Integer>",
              }));
}

TEST_F(gcxml_writer, value_ref_writes_link_literal_or_nothing)
{
    const struct {
        value_ref value;
        const char* expected;
    } cases[] = {
        {value_ref::link("Gain_Reg"), "<Integer Name=\"I\">\n\t<pValue>Gain_Reg</pValue>\n</Integer>\n"},
        {{"100", static_cast<ref_kind>(2)}, "<Integer Name=\"I\">\n\t<Value>100</Value>\n</Integer>\n"},
        // Every kind but none and link is a literal.
        {{"7", static_cast<ref_kind>(-3)}, "<Integer Name=\"I\">\n\t<Value>7</Value>\n</Integer>\n"},
        {value_ref::link(""), "<Integer Name=\"I\" />\n"},
        {value_ref::literal(""), "<Integer Name=\"I\" />\n"},
        {{"Gain_Reg", ref_kind::none}, "<Integer Name=\"I\" />\n"},
    };
    for (const auto& c : cases) {
        integer_desc d("I");
        d.value = c.value;
        root.remove_children();
        EXPECT_EQ(write(genapi_xml_writer::write_integer_node, d), c.expected) << c.value.text;
    }
}

TEST_F(gcxml_writer, boolean_default_entries_follow_the_records_own_extensions)
{
    boolean_desc d("Enable");
    d.extensions = {{"VCDItemName", "Tone Mapping"}, {"PropertyImplementer", "Driver"}};
    d.value = value_ref::link("Enable_Reg");
    d.default_text = "1";
    d.default_kind = ref_kind::literal;
    d.do_not_serialize = true;
    d.streamable = static_cast<yes_no>(5);

    EXPECT_EQ(write(write_bool_node, d), lines({
                                             "<Boolean Name=\"Enable\">",
                                             "><Extension>",
                                             ">><VCDItemName>Tone Mapping</VCDItemName>",
                                             ">><PropertyImplementer>Driver</PropertyImplementer>",
                                             ">><Default>1</Default>",
                                             ">><DoNotSerialize>1</DoNotSerialize>",
                                             "></Extension>",
                                             "><Streamable>No</Streamable>",
                                             "><pValue>Enable_Reg</pValue>",
                                             "</Boolean>",
                                         }));

    // A linked default, and a default without text or kind writes no entry.
    EXPECT_EQ(make_default_extension("Other", ref_kind::link, false).at(0).name, "pDefault");
    EXPECT_TRUE(make_default_extension("", ref_kind::literal, false).empty());
    EXPECT_TRUE(make_default_extension("1", ref_kind::none, false).empty());
}

TEST_F(gcxml_writer, enumerators_outside_their_lists_write_empty_texts)
{
    integer_desc d("I");
    d.merge_priority = static_cast<merge_priority_kind>(7);
    d.expose_static = yes_no::yes;
    d.visibility = static_cast<visibility_kind>(-1);
    d.imposed_access_mode = static_cast<access_mode_kind>(3);
    d.representation = static_cast<int_representation>(7);

    EXPECT_EQ(write(genapi_xml_writer::write_integer_node, d),
              lines({
                  "<Integer Name=\"I\" MergePriority=\"\" ExposeStatic=\"Yes\">",
                  "><Visibility></Visibility>",
                  "><ImposedAccessMode></ImposedAccessMode>",
                  "><Representation></Representation>",
                  "</Integer>",
              }));

    // The listed values, each in its place.
    const struct {
        merge_priority_kind priority;
        visibility_kind visibility;
        const char* priority_text;
        const char* visibility_text;
    } listed[] = {
        {merge_priority_kind::low, visibility_kind::beginner, "-1", "Beginner"},
        {merge_priority_kind::normal, visibility_kind::expert, "0", "Expert"},
        {merge_priority_kind::high, visibility_kind::invisible, "+1", "Invisible"},
    };
    for (const auto& l : listed) {
        boolean_desc b("B");
        b.merge_priority = l.priority;
        b.visibility = l.visibility;
        write_bool_node(root, b);
        EXPECT_STREQ(root.last_child().attribute("MergePriority").value(), l.priority_text);
        EXPECT_STREQ(root.last_child().child_value("Visibility"), l.visibility_text);
    }
}

TEST_F(gcxml_writer, float_writes_display_fields_and_negative_precision)
{
    float_desc d("Intensity");
    d.is_locked = "ToneMapping_Params_Locked";
    d.value = value_ref::link("Intensity_Reg");
    d.min = value_ref::literal("-8.000000");
    d.max = value_ref::literal("8.000000");
    d.inc = value_ref::literal("0.010000");
    d.unit = "EV";
    d.representation = float_representation::pure_number;
    d.display_notation = display_notation_kind::scientific;
    d.display_precision = -12;
    d.default_text = "0.500000";
    d.default_kind = ref_kind::literal;

    EXPECT_EQ(write(genapi_xml_writer::write_float_node, d),
              lines({
                  "<Float Name=\"Intensity\">",
                  "><Extension>",
                  ">><Default>0.500000</Default>",
                  "></Extension>",
                  "><pIsLocked>ToneMapping_Params_Locked</pIsLocked>",
                  "><pValue>Intensity_Reg</pValue>",
                  "><Min>-8.000000</Min>",
                  "><Max>8.000000</Max>",
                  "><Inc>0.010000</Inc>",
                  "><Unit>EV</Unit>",
                  "><Representation>PureNumber</Representation>",
                  "><DisplayNotation>Scientific</DisplayNotation>",
                  "><DisplayPrecision>-12</DisplayPrecision>",
                  "</Float>",
              }));

    // Only the three float representations are known; HexNumber's value is not one.
    float_desc f("F");
    f.representation = static_cast<float_representation>(4);
    f.display_notation = display_notation_kind::fixed;
    write(genapi_xml_writer::write_float_node, f);
    EXPECT_STREQ(root.last_child().child_value("Representation"), "");
    EXPECT_STREQ(root.last_child().child_value("DisplayNotation"), "Fixed");
}

TEST_F(gcxml_writer, enumeration_writes_its_entries_before_its_value)
{
    enumeration_desc d("Mode");
    d.invalidators = {"Other"};
    d.streamable = yes_no::yes;
    enum_entry_desc first("Intensity_0");
    first.display_name = "Intensity";
    first.value = "0";
    enum_entry_desc second("Half_1");
    second.invalidators = {"X"};
    second.value = "1";
    second.numeric_value = 0.5f;
    second.symbolic = "Half";
    second.is_self_clearing = yes_no::no;
    d.entries = {first, second};
    d.value = value_ref::link("Mode_Reg");
    d.default_text = "Intensity_0";

    EXPECT_EQ(write(genapi_xml_writer::write_enumeration_node, d),
              lines({
                  "<Enumeration Name=\"Mode\">",
                  "><Extension>",
                  ">><Default>Intensity_0</Default>",
                  "></Extension>",
                  "><pInvalidator>Other</pInvalidator>",
                  "><Streamable>Yes</Streamable>",
                  "><EnumEntry Name=\"Intensity_0\">",
                  ">><DisplayName>Intensity</DisplayName>",
                  ">><Value>0</Value>",
                  "></EnumEntry>",
                  "><EnumEntry Name=\"Half_1\">",
                  ">><pInvalidator>X</pInvalidator>",
                  ">><Value>1</Value>",
                  ">><NumericValue>0.500000</NumericValue>",
                  ">><Symbolic>Half</Symbolic>",
                  ">><IsSelfClearing>No</IsSelfClearing>",
                  "></EnumEntry>",
                  "><pValue>Mode_Reg</pValue>",
                  "</Enumeration>",
              }));
}

TEST_F(gcxml_writer, swissknife_skips_entries_without_text)
{
    int_swissknife_desc d("ToneMapping_Params_Locked");
    d.variables = {{"enabled", "ToneMapping_Enable_Elem_Reg"}, {"unused", ""}};
    d.constants = {{"K", "3"}};
    d.expressions = {{"E", "K + 1"}, {"Empty", ""}};
    d.formula = "enabled = 0 ? 1 : 0";
    d.unit = "x";
    d.representation = int_representation::boolean;

    EXPECT_EQ(write(genapi_xml_writer::write_int_swissknife_node, d),
              lines({
                  "<IntSwissKnife Name=\"ToneMapping_Params_Locked\">",
                  "><pVariable Name=\"enabled\">ToneMapping_Enable_Elem_Reg</pVariable>",
                  "><Constant Name=\"K\">3</Constant>",
                  "><Expression Name=\"E\">K + 1</Expression>",
                  "><Formula>enabled = 0 ? 1 : 0</Formula>",
                  "><Unit>x</Unit>",
                  "><Representation>Boolean</Representation>",
                  "</IntSwissKnife>",
              }));
}

TEST_F(gcxml_writer, registers_always_write_address_length_access_port_and_endianess)
{
    EXPECT_EQ(write(write_int_reg_node, int_reg_desc("R")), lines({
                                                               "<IntReg Name=\"R\">",
                                                               "><Address>0x0</Address>",
                                                               "><Length>4</Length>",
                                                               "><AccessMode>RW</AccessMode>",
                                                               "><pPort>Device</pPort>",
                                                               "><Endianess>LittleEndian</Endianess>",
                                                               "</IntReg>",
                                                           }));

    int_reg_desc i("Enable_Reg");
    i.tool_tip = "t";
    i.streamable = yes_no::no;
    i.address = 0x1F;
    i.length = value_ref::link("LengthNode");
    i.access_mode = access_mode_kind::wo;
    i.port = "Other";
    i.cachable = cachable_kind::no_cache;
    i.invalidators = {"Inv"};
    i.sign = static_cast<sign_kind>(9);
    i.endianess = endianess_kind::big_endian;
    i.unit = "u";
    i.representation = int_representation::mac_address;
    EXPECT_EQ(write(write_int_reg_node, i), lines({
                                                "<IntReg Name=\"Enable_Reg\">",
                                                "><ToolTip>t</ToolTip>",
                                                "><Streamable>No</Streamable>",
                                                "><Address>0x1F</Address>",
                                                "><pLength>LengthNode</pLength>",
                                                "><AccessMode>WO</AccessMode>",
                                                "><pPort>Other</pPort>",
                                                "><Cachable>NoCache</Cachable>",
                                                "><pInvalidator>Inv</pInvalidator>",
                                                "><Sign>Unsigned</Sign>",
                                                "><Endianess>BigEndian</Endianess>",
                                                "><Unit>u</Unit>",
                                                "><Representation>MACAddress</Representation>",
                                                "</IntReg>",
                                            }));

    float_reg_desc f("Gain_Reg");
    f.address = 0xBCEA541200040008;
    f.access_mode = static_cast<access_mode_kind>(3);
    f.cachable = cachable_kind::write_around;
    f.endianess = static_cast<endianess_kind>(2);
    f.representation = float_representation::logarithmic;
    f.display_notation = display_notation_kind::automatic;
    f.display_precision = 3;
    EXPECT_EQ(write(write_float_reg_node, f), lines({
                                                  "<FloatReg Name=\"Gain_Reg\">",
                                                  "><Address>0xBCEA541200040008</Address>",
                                                  "><Length>4</Length>",
                                                  "><AccessMode></AccessMode>",
                                                  "><pPort>Device</pPort>",
                                                  "><Cachable>WriteAround</Cachable>",
                                                  "><Endianess></Endianess>",
                                                  "><Representation>Logarithmic</Representation>",
                                                  "><DisplayNotation>Automatic</DisplayNotation>",
                                                  "><DisplayPrecision>3</DisplayPrecision>",
                                                  "</FloatReg>",
                                              }));
    EXPECT_EQ(format_address(~0ull), "0xFFFFFFFFFFFFFFFF");
}

TEST_F(gcxml_writer, markup_and_non_ascii_texts_read_back_unchanged)
{
    const std::string tricky = "a<b>&\"c\" 'd' \xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xB7";
    integer_desc d(tricky);
    d.description = tricky;
    d.extensions = {{"Key", tricky}};
    d.value = value_ref::literal("1 < 2 && 3 > 2");
    write(genapi_xml_writer::write_integer_node, d);

    const std::string text = print(root);
    EXPECT_EQ(text.find("a<b"), std::string::npos);
    pugi::xml_document back;
    ASSERT_TRUE(back.load_string(text.c_str()));
    const pugi::xml_node node = back.child("RegisterDescription").child("Integer");
    EXPECT_EQ(node.attribute("Name").value(), tricky);
    EXPECT_EQ(node.child_value("Description"), tricky);
    EXPECT_EQ(node.child("Extension").child_value("Key"), tricky);
    EXPECT_STREQ(node.child_value("Value"), "1 < 2 && 3 > 2");
}

TEST_F(gcxml_writer, broken_utf8_and_bad_element_names_still_give_a_well_formed_document)
{
    integer_desc d(std::string("bad\xFF\xC3", 5));
    d.description = std::string("cut\0off", 7);
    d.extensions = {{"a<b c", "v"}, {"", "empty"}, {"1st", "digit"}, {"Gr\xC3\xB6\xC3\x9F" "e", "kept"}};
    write(genapi_xml_writer::write_integer_node, d);

    const std::string text = print(root);
    EXPECT_TRUE(is_clean_utf8(text));
    pugi::xml_document back;
    ASSERT_TRUE(back.load_string(text.c_str()));
    const pugi::xml_node node = back.child("RegisterDescription").child("Integer");
    EXPECT_STREQ(node.attribute("Name").value(), "bad\xEF\xBF\xBD\xEF\xBF\xBD");
    // Nothing after the NUL is lost.
    EXPECT_STREQ(node.child_value("Description"), "cut\xEF\xBF\xBDoff");
    const pugi::xml_node extension = node.child("Extension");
    EXPECT_STREQ(extension.child_value("a_b_c"), "v");
    EXPECT_STREQ(extension.child_value("_"), "empty");
    EXPECT_STREQ(extension.child_value("_st"), "digit");
    EXPECT_STREQ(extension.child_value("Gr\xC3\xB6\xC3\x9F" "e"), "kept");
}

TEST(gcxml_text, utf8_checks_reject_overlong_surrogate_and_truncated_forms)
{
    const struct {
        std::string text;
        bool clean;
    } cases[] = {
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xC0\xAF", false},         // overlong '/'
        {"\xE0\x80\xAF", false},     // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\xE2\x82", false},         // truncated
        {std::string("\0", 1), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_clean_utf8(c.text), c.clean) << testing::PrintToString(c.text);
        EXPECT_TRUE(is_clean_utf8(repair_utf8(c.text)));
        if (c.clean) {
            EXPECT_EQ(repair_utf8(c.text), c.text);
        }
    }
}

// A process locale with a decimal comma must not reach the written numbers.
TEST_F(gcxml_writer, numbers_ignore_a_decimal_comma_locale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE", "German"}) {
        if (std::setlocale(LC_ALL, name)) {
            char probe[16];
            std::snprintf(probe, sizeof probe, "%.1f", 0.5);
            if (std::string(probe) == "0,5") {
                found = name;
                break;
            }
        }
    }
    if (!found) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    enumeration_desc d("E");
    enum_entry_desc e("E0");
    e.numeric_value = 2.0f;
    d.entries = {e};
    float_desc f("F");
    f.display_precision = -1234567;
    genapi_xml_writer::write_enumeration_node(root, d);
    genapi_xml_writer::write_float_node(root, f);
    std::setlocale(LC_ALL, previous.c_str());

    EXPECT_STREQ(root.child("Enumeration").child("EnumEntry").child_value("NumericValue"), "2.000000") << found;
    EXPECT_STREQ(root.child("Float").child_value("DisplayPrecision"), "-1234567") << found;
}

TEST(gcxml_writer_empty_parent, writers_do_nothing_on_an_empty_handle)
{
    const pugi::xml_node none;
    integer_desc d("I");
    d.extensions = {{"K", "V"}};
    genapi_xml_writer::write_integer_node(none, d);
    write_int_reg_node(none, int_reg_desc("R"));
    genapi_xml_writer::write_enumeration_node(none, enumeration_desc("E"));
    EXPECT_FALSE(write_node_common(none, "Integer", d));
    EXPECT_FALSE(write_register_common(none, "IntReg", int_reg_desc("R")));
}

} // namespace
