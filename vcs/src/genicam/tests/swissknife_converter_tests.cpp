// Converter and SwissKnife nodes loaded from descriptions: how their
// variables, constants and Expressions are bound, what reads and writes
// compute and how a broken description is survived.

#include "genicam/genicam_doc.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::errc;
using GenICam::IFloat;
using GenICam::IInteger;

IInteger& integer(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    GenICam::INode* node = doc.find_node(name);
    EXPECT_NE(node, nullptr) << name;
    auto* i = dynamic_cast<IInteger*>(node);
    EXPECT_NE(i, nullptr) << name;
    return *i;
}

IFloat& floating(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* f = dynamic_cast<IFloat*>(doc.find_node(name));
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

std::error_code code(errc e)
{
    return make_error_code(e);
}

TEST(swissknife, computes_from_constants_expressions_and_other_swissknives)
{
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="Base"><Formula>0x10 + 4</Formula></IntSwissKnife>
        <IntSwissKnife Name="S">
          <Constant Name="C">5 apples</Constant>
          <pVariable Name="B">Base</pVariable>
          <Expression Name="X">C * 2</Expression>
          <Expression Name="Y">X + B</Expression>
          <Formula>Y + 1</Formula>
        </IntSwissKnife>
        <SwissKnife Name="F"><pVariable Name="S">S</pVariable><Formula>S / 2</Formula></SwissKnife>
        <IntSwissKnife Name="Round"><Formula>5 / 2.0</Formula></IntSwissKnife>
        <SwissKnife Name="Widen"><Formula>6 / 2</Formula></SwissKnife>
        <SwissKnife Name="Pi"><pVariable Name="PI">Base</pVariable><Formula>PI</Formula></SwissKnife>)");
    EXPECT_EQ(integer(*doc, "S").get_val().value(), 31);
    // A float node sees an integer variable as a double: 31 / 2.0.
    EXPECT_EQ(floating(*doc, "F").get_val().value(), 15.5);
    EXPECT_EQ(integer(*doc, "Round").get_val().value(), 3);
    EXPECT_EQ(floating(*doc, "Widen").get_val().value(), 3.0);
    EXPECT_EQ(floating(*doc, "Pi").get_val().value(), 3.141592653589793);
}

TEST(swissknife, is_read_only_with_fixed_limits)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="I"><Formula>1</Formula></IntSwissKnife>
        <SwissKnife Name="F"><ImposedAccessMode>WO</ImposedAccessMode><Formula>1</Formula></SwissKnife>)");
    IInteger& i = integer(*doc, "I");
    EXPECT_EQ(i.get_access_mode(), GenICam::access_mode::RO);
    EXPECT_EQ(i.set_val(5), code(errc::not_implemented));
    EXPECT_EQ(i.get_min().value(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(i.get_max().value(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(i.get_inc().value(), 1);
    EXPECT_EQ(i.get_default().error(), code(errc::not_implemented));

    IFloat& f = floating(*doc, "F");
    EXPECT_EQ(f.get_access_mode(), GenICam::access_mode::WO);
    EXPECT_EQ(f.set_val(1.0), code(errc::not_implemented));
    EXPECT_EQ(f.get_min().value(), 2.2250738585072014e-308);
    EXPECT_EQ(f.get_max().value(), 1.7976931348623157e308);
    EXPECT_EQ(f.get_inc().error(), code(errc::not_implemented));
    EXPECT_NE(log.text().find("Trying to change access mode from ImposedAccessMode == WO to RO."),
              std::string::npos);
}

TEST(swissknife, range_variables_read_the_limits_of_their_node)
{
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="W"><Formula>7</Formula></IntSwissKnife>
        <SwissKnife Name="G"><Formula>7</Formula></SwissKnife>
        <IntSwissKnife Name="S">
          <pVariable Name="W.Max">W</pVariable><pVariable Name="W.Inc">W</pVariable>
          <Formula>W.Max - W.Inc</Formula>
        </IntSwissKnife>
        <SwissKnife Name="T"><pVariable Name="G.Min">G</pVariable><Formula>G.Min * 2</Formula></SwissKnife>)");
    EXPECT_EQ(integer(*doc, "S").get_val().value(), std::numeric_limits<std::int64_t>::max() - 1);
    EXPECT_EQ(floating(*doc, "T").get_val().value(), 2 * 2.2250738585072014e-308);
}

TEST(swissknife, broken_descriptions_leave_a_node_that_answers_errors)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <Category Name="Cat"/>
        <IntSwissKnife Name="NoFormula"/>
        <IntSwissKnife Name="Self"><pVariable Name="A">Self</pVariable><Formula>A + 1</Formula></IntSwissKnife>
        <IntSwissKnife Name="Later">
          <Expression Name="X">Y + 1</Expression><Expression Name="Y">2</Expression><Formula>X</Formula>
        </IntSwissKnife>
        <IntSwissKnife Name="Unknown"><pVariable Name="A">Nowhere</pVariable><Formula>A</Formula></IntSwissKnife>
        <IntSwissKnife Name="BadMin"><pVariable Name="C.Min">Cat</pVariable><Formula>C.Min</Formula></IntSwissKnife>
        <IntSwissKnife Name="ToFrom"><Formula>TO + FROM</Formula></IntSwissKnife>
        <IntSwissKnife Name="Div"><Formula>(0x7FFFFFFFFFFFFFFF + 1) / -1</Formula></IntSwissKnife>
        <IntSwissKnife Name="Deep"><Formula>)" + std::string(10000, '(') + "1" + std::string(10000, ')') +
                          R"(</Formula></IntSwissKnife>)");
    const std::string text = log.text();
    EXPECT_NE(text.find("SwissKnife (\"NoFormula\"). Failed due to missing Formula member."), std::string::npos);
    EXPECT_NE(text.find("failed to parse Constant named=\"X\" content=\"Y + 1\"."), std::string::npos);
    EXPECT_NE(text.find("Failed to map variable \"Y\" to either a constant or a pValue."), std::string::npos);
    EXPECT_NE(text.find("km_parse_tree failed with result=Failed to map a variable name to a identifier_id. "
                        "Last token view:\nY + 1."),
              std::string::npos);
    EXPECT_NE(text.find("create_resulting_entry, invalid node type for pVariable with \".Min\" specifier."),
              std::string::npos);
    EXPECT_NE(text.find("SwissKnife (\"ToFrom\"). failed to evaluate \"TO + FROM\""), std::string::npos);

    for (const char* name : {"NoFormula", "Later", "Unknown", "BadMin", "ToFrom", "Deep"}) {
        EXPECT_EQ(integer(*doc, name).get_val().error(), code(errc::not_implemented)) << name;
    }
    // A variable naming its own node fails its evaluation instead of recursing forever.
    EXPECT_EQ(integer(*doc, "Self").get_val().error(), code(errc::formula_parse_failed));
    EXPECT_EQ(integer(*doc, "Div").get_val().error(), code(errc::formula_parse_failed));
}

TEST(converter, translates_reads_and_fails_writes_to_a_read_only_target)
{
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="Raw"><Formula>10</Formula></IntSwissKnife>
        <IntConverter Name="Half"><pValue>Raw</pValue><FormulaFrom>FROM / 2</FormulaFrom>
          <FormulaTo>TO * 2</FormulaTo></IntConverter>
        <Converter Name="Scaled"><pValue>Raw</pValue><FormulaFrom>FROM * 0.25</FormulaFrom>
          <FormulaTo>TO * 4</FormulaTo></Converter>
        <IntConverter Name="Choose"><pValue>Raw</pValue><FormulaFrom>FROM = 0 ? 1 : 2</FormulaFrom>
          <FormulaTo>TO</FormulaTo></IntConverter>)");
    IInteger& half = integer(*doc, "Half");
    EXPECT_EQ(half.get_val().value(), 5);
    EXPECT_EQ(half.set_val(7), code(errc::not_implemented)) << "the SwissKnife target refuses the write";
    EXPECT_EQ(half.get_access_mode(), GenICam::access_mode::RO) << "the target's RO applies";
    EXPECT_EQ(floating(*doc, "Scaled").get_val().value(), 2.5);
    EXPECT_EQ(integer(*doc, "Choose").get_val().value(), 2);
}

// Makers map register codes to feature values with long select chains,
// "(TO=0)?0:((TO=LIN1)?1:(...))", 54 deep in one real description.
std::string select_chain(std::string_view input, std::string_view when, std::string_view then, int depth)
{
    std::string chain;
    for (int i = 0; i < depth; ++i) {
        chain += "((" + std::string(input) + "=" + std::string(when) + std::to_string(i) + ")?" + std::string(then) +
                 std::to_string(i) + ":";
    }
    return chain + "0" + std::string(static_cast<std::size_t>(depth), ')');
}

TEST(converter, select_chains_as_deep_as_descriptions_write_them_map_both_ways)
{
    std::string constants;
    for (int i = 0; i < 60; ++i) {
        constants += "<Constant Name=\"CODE" + std::to_string(i) + "\">" + std::to_string(0x100 + i) + "</Constant>";
    }
    log_capture log;
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <IntReg Name="Raw"><Address>0x10</Address><Length>2</Length><Endianess>BigEndian</Endianess></IntReg>
        <IntConverter Name="Mode"><pValue>Raw</pValue>)" + constants +
                          "<FormulaFrom>" + select_chain("FROM", "CODE", "", 60) + "</FormulaFrom>" +
                          constants + "<FormulaTo>" + select_chain("TO", "", "CODE", 60) +
                          "</FormulaTo></IntConverter>");
    genicam_test::memory_device_port device;
    genicam_test::bind_device(*doc, device);
    const std::string logged = log.text();
    EXPECT_EQ(logged.find("failed"), std::string::npos) << logged;
    IInteger& mode = integer(*doc, "Mode");
    for (const int i : {0, 1, 44, 59}) {
        ASSERT_FALSE(mode.set_val(i)) << i;
        EXPECT_EQ(device.get(0x10, 2), (std::vector<std::uint8_t>{1, static_cast<std::uint8_t>(i)})) << i;
        EXPECT_EQ(mode.get_val().value(), i);
    }
}

TEST(converter, round_trips_through_a_register_target)
{
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <IntReg Name="Raw"><Address>0x10</Address><Length>2</Length></IntReg>
        <IntConverter Name="Half"><pValue>Raw</pValue><FormulaFrom>FROM / 2</FormulaFrom>
          <FormulaTo>TO * 2</FormulaTo></IntConverter>
        <Converter Name="Volts"><pValue>Raw</pValue><FormulaFrom>FROM / 10.0</FormulaFrom>
          <FormulaTo>TO * 10</FormulaTo></Converter>
        <IntSwissKnife Name="Twice"><pVariable Name="A">Raw</pVariable><Formula>A * 2</Formula></IntSwissKnife>
        <FloatReg Name="Gain"><Address>0x20</Address><Length>8</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <IntSwissKnife Name="GainSeen"><pVariable Name="G">Gain</pVariable><Formula>G</Formula></IntSwissKnife>
        <SwissKnife Name="HalfRaw"><pVariable Name="R">Raw</pVariable><Formula>R / 4</Formula></SwissKnife>)");
    genicam_test::memory_device_port device;
    genicam_test::bind_device(*doc, device);
    device.put(0x10, {0, 10});
    IInteger& half = integer(*doc, "Half");
    EXPECT_EQ(half.get_val().value(), 5);
    // Variables take the node's kind: a float of 2.5 is 3 to an integer node,
    // an integer of 10 is 10.0 to a float node (so R / 4 divides doubles).
    ASSERT_FALSE(floating(*doc, "Gain").set_val(2.5));
    EXPECT_EQ(integer(*doc, "GainSeen").get_val().value(), 3);
    EXPECT_EQ(floating(*doc, "HalfRaw").get_val().value(), 2.5);
    EXPECT_EQ(integer(*doc, "Twice").get_val().value(), 20);
    EXPECT_FALSE(half.set_val(7));
    EXPECT_EQ(device.get(0x10, 2), (std::vector<std::uint8_t>{0, 14}));
    EXPECT_EQ(half.get_val().value(), 7);
    EXPECT_EQ(integer(*doc, "Twice").get_val().value(), 28) << "a variable's change reaches the next read";

    IFloat& volts = floating(*doc, "Volts");
    // The target's integer arrives as it is: only the 10.0 makes this a division of doubles.
    EXPECT_EQ(volts.get_val().value(), 1.4);
    // 2.26 * 10 is 22.599999999999998: the target's integer write rounds it.
    EXPECT_FALSE(volts.set_val(2.26));
    EXPECT_EQ(device.get(0x10, 2), (std::vector<std::uint8_t>{0, 23}));

    // The converter's read of its target passes the target's error on unchanged.
    device.fail_reads = true;
    EXPECT_EQ(half.get_val().error(), code(errc::device_lost));
    // A failing variable fails the SwissKnife's evaluation.
    EXPECT_EQ(integer(*doc, "Twice").get_val().error(), code(errc::formula_parse_failed));
}

// A float target keeps what FormulaTo computes, and FormulaFrom's fraction
// reaches the reader: only an integer target rounds.
TEST(converter, a_float_target_takes_and_gives_fractions_unrounded)
{
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <FloatReg Name="Wide"><Address>0x20</Address><Length>8</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <FloatReg Name="Single"><Address>0x30</Address><Length>4</Length><Endianess>BigEndian</Endianess></FloatReg>
        <Float Name="Plain"><Value>0</Value><Min>-100</Min><Max>100</Max></Float>
        <Converter Name="HalfWide"><pValue>Wide</pValue><FormulaFrom>FROM * 2</FormulaFrom>
          <FormulaTo>TO / 2</FormulaTo></Converter>
        <Converter Name="HalfSingle"><pValue>Single</pValue><FormulaFrom>FROM * 2</FormulaFrom>
          <FormulaTo>TO / 2</FormulaTo></Converter>
        <Converter Name="HalfPlain"><pValue>Plain</pValue><FormulaFrom>FROM * 2</FormulaFrom>
          <FormulaTo>TO / 2</FormulaTo></Converter>
        <Converter Name="Quarter"><pValue>Wide</pValue><FormulaFrom>FROM / 4</FormulaFrom>
          <FormulaTo>TO * 4</FormulaTo></Converter>
        <IntConverter Name="Micro"><pValue>Plain</pValue><FormulaFrom>FROM * 1000000</FormulaFrom>
          <FormulaTo>TO / 1000000.0</FormulaTo></IntConverter>)");
    genicam_test::memory_device_port device;
    genicam_test::bind_device(*doc, device);
    struct row {
        const char* converter;
        const char* target;
        double sent;
        double stored;
        double read;
    };
    const row rows[] = {
        {"HalfWide", "Wide", 2.5, 1.25, 2.5},
        {"HalfWide", "Wide", -0.75, -0.375, -0.75},
        {"HalfSingle", "Single", 2.5, 1.25, 2.5},
        {"HalfPlain", "Plain", 2.5, 1.25, 2.5},
        {"HalfPlain", "Plain", 0.5, 0.25, 0.5},
        // An integral target value whose read is a fraction: the read alone decides.
        {"Quarter", "Wide", 0.5, 2.0, 0.5},
        {"Quarter", "Wide", 1.75, 7.0, 1.75},
    };
    for (const row& r : rows) {
        IFloat& converter = floating(*doc, r.converter);
        EXPECT_FALSE(converter.set_val(r.sent)) << r.converter << " " << r.sent;
        EXPECT_EQ(floating(*doc, r.target).get_val().value(), r.stored) << r.converter << " " << r.sent;
        EXPECT_EQ(converter.get_val().value(), r.read) << r.converter << " " << r.sent;
    }
    // An integer converter's double formula reaches the float whole too.
    EXPECT_FALSE(integer(*doc, "Micro").set_val(2500000));
    EXPECT_EQ(floating(*doc, "Plain").get_val().value(), 2.5);
    EXPECT_EQ(integer(*doc, "Micro").get_val().value(), 2500000);
    // The target written on its own: FormulaFrom's fraction is the converter's value.
    ASSERT_FALSE(floating(*doc, "Wide").set_val(3.0));
    EXPECT_EQ(floating(*doc, "Quarter").get_val().value(), 0.75);
    EXPECT_EQ(floating(*doc, "HalfWide").get_val().value(), 6.0);
    ASSERT_FALSE(floating(*doc, "Plain").set_val(0.3125));
    EXPECT_EQ(floating(*doc, "HalfPlain").get_val().value(), 0.625);
}

TEST(converter, missing_or_broken_formulas_answer_not_implemented)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="Raw"><Formula>10</Formula></IntSwissKnife>
        <IntConverter Name="NoTarget"><pValue>Nowhere</pValue><FormulaFrom>FROM</FormulaFrom>
          <FormulaTo>TO</FormulaTo></IntConverter>
        <IntConverter Name="NoTo"><pValue>Raw</pValue><FormulaFrom>FROM</FormulaFrom></IntConverter>
        <Converter Name="BadTo"><pValue>Raw</pValue><FormulaFrom>FROM + 1</FormulaFrom>
          <FormulaTo>TO +* 1</FormulaTo></Converter>
        <Converter Name="BadFrom"><pValue>Raw</pValue><FormulaFrom>SIN(</FormulaFrom>
          <FormulaTo>TO</FormulaTo></Converter>)");
    const std::string text = log.text();
    EXPECT_NE(text.find("Converter (\"NoTarget\"). Failed due to missing pValue element."), std::string::npos);
    EXPECT_NE(text.find("Converter (\"NoTo\"). Failed due to missing FormulaFrom/FormulaTo member(s)."),
              std::string::npos);
    EXPECT_NE(text.find("Converter (\"BadTo\"). failed to evaluate \"TO +* 1\""), std::string::npos);

    for (const char* name : {"NoTarget", "NoTo"}) {
        EXPECT_EQ(integer(*doc, name).get_val().error(), code(errc::not_implemented)) << name;
        EXPECT_EQ(integer(*doc, name).set_val(1), code(errc::not_implemented)) << name;
    }
    IFloat& bad_to = floating(*doc, "BadTo");
    EXPECT_EQ(bad_to.get_val().value(), 11.0) << "FormulaFrom still serves reads";
    EXPECT_EQ(bad_to.set_val(1.0), code(errc::not_implemented));
    // "SIN(" runs into the end of the text: it compiles to nothing and fails at evaluation.
    EXPECT_FALSE(floating(*doc, "BadFrom").get_val());
}

} // namespace

namespace {

const char* const value_nodes = R"(
    <Integer Name="Width"><Value>10</Value><Min>2</Min><Max>100</Max><Inc>2</Inc></Integer>
    <Float Name="Gain"><Value>2.5</Value></Float>
    <Enumeration Name="Mode"><Value>0</Value>
      <EnumEntry Name="Off"><Value>0</Value></EnumEntry>
      <EnumEntry Name="On"><Value>1</Value><NumericValue>1.5</NumericValue></EnumEntry>
    </Enumeration>)";

TEST(swissknife, reads_value_nodes_anew_on_every_read)
{
    auto doc = load_nodes(std::string(value_nodes) + R"(
        <IntSwissKnife Name="Twice"><pVariable Name="A">Width</pVariable><Formula>A * 2</Formula></IntSwissKnife>
        <IntSwissKnife Name="GainSeen"><pVariable Name="G">Gain</pVariable><Formula>G</Formula></IntSwissKnife>
        <SwissKnife Name="WidthSeen"><pVariable Name="W">Width</pVariable><Formula>W / 4</Formula></SwissKnife>
        <IntSwissKnife Name="Limits">
          <pVariable Name="W.Max">Width</pVariable><pVariable Name="W.Min">Width</pVariable>
          <pVariable Name="W.Inc">Width</pVariable><Formula>W.Max + W.Min + W.Inc</Formula>
        </IntSwissKnife>
        <IntConverter Name="Half"><pValue>Width</pValue><FormulaFrom>FROM / 2</FormulaFrom>
          <FormulaTo>TO * 2</FormulaTo></IntConverter>
        <Integer Name="Zero"><Value>0</Value></Integer>
        <IntConverter Name="Choose"><pValue>Zero</pValue><FormulaFrom>FROM ? 1 : 2</FormulaFrom>
          <FormulaTo>TO</FormulaTo></IntConverter>)");
    EXPECT_EQ(integer(*doc, "Choose").get_val().value(), 2);
    EXPECT_EQ(integer(*doc, "Twice").get_val().value(), 20);
    EXPECT_EQ(integer(*doc, "GainSeen").get_val().value(), 3) << "2.5 rounds to 3 in an integer node";
    EXPECT_EQ(floating(*doc, "WidthSeen").get_val().value(), 2.5) << "10 is 10.0 in a float node";
    EXPECT_EQ(integer(*doc, "Limits").get_val().value(), 104);

    IInteger& half = integer(*doc, "Half");
    EXPECT_EQ(half.get_val().value(), 5);
    EXPECT_FALSE(half.set_val(7));
    EXPECT_EQ(integer(*doc, "Width").get_val().value(), 14);
    EXPECT_EQ(integer(*doc, "Twice").get_val().value(), 28) << "the change of Width reaches the next read";
    EXPECT_EQ(half.set_val(100), code(errc::value_out_of_range)) << "the target's own range check applies";
}

TEST(swissknife, entry_variables_are_constants_fixed_at_load)
{
    log_capture log;
    auto doc = load_nodes(std::string(value_nodes) + R"(
        <IntSwissKnife Name="OnInt"><pVariable Name="M.Entry.On">Mode</pVariable><Formula>M.Entry.On</Formula></IntSwissKnife>
        <SwissKnife Name="OnFloat"><pVariable Name="M.Entry.On">Mode</pVariable><Formula>M.Entry.On</Formula></SwissKnife>
        <SwissKnife Name="OffFloat"><pVariable Name="M.Entry.Off">Mode</pVariable><Formula>M.Entry.Off + 1</Formula></SwissKnife>
        <IntSwissKnife Name="AtEnd"><pVariable Name="M.Entry">Mode</pVariable><Formula>M.Entry</Formula></IntSwissKnife>
        <IntSwissKnife Name="Separator"><pVariable Name="M.Entry.">Mode</pVariable><Formula>1</Formula></IntSwissKnife>
        <IntSwissKnife Name="NotEnum"><pVariable Name="W.Entry.On">Width</pVariable><Formula>W.Entry.On</Formula></IntSwissKnife>)");
    const std::string text = log.text();
    EXPECT_EQ(integer(*doc, "OnInt").get_val().value(), 2) << "the numeric value 1.5, rounded";
    EXPECT_EQ(floating(*doc, "OnFloat").get_val().value(), 1.5);
    const auto off = floating(*doc, "OffFloat").get_val();
    ASSERT_TRUE(off);
    EXPECT_EQ(off.value(), 1.0);
    // A name that ends at ".Entry" names no entry: skipped with a message, never read past its end.
    EXPECT_EQ(integer(*doc, "AtEnd").get_val().error(), code(errc::not_implemented));
    EXPECT_EQ(integer(*doc, "Separator").get_val().value(), 1);
    EXPECT_EQ(integer(*doc, "NotEnum").get_val().error(), code(errc::not_implemented));
    EXPECT_EQ(genicam_test::count_of(text, "did not find entry in enumeration for pVariable with \".Entry\" specifier."),
              2u);
    EXPECT_EQ(genicam_test::count_of(text, "did not find enumeration for pVariable with \".Entry\" specifier."), 1u);
}

} // namespace
