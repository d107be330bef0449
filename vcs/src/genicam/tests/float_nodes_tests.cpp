#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using genicam_test::count_of;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::IFloat;
using GenICam::errc;

IFloat& flt(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* node = dynamic_cast<IFloat*>(doc.find_node(name));
    EXPECT_NE(node, nullptr) << name;
    return *node;
}

TEST(float_nodes, writable_without_min_refuses_negative_values)
{
    auto doc = load_nodes(R"(<Float Name="F"><Value>1.5</Value></Float>)");
    IFloat& f = flt(*doc, "F");
    log_capture log;
    EXPECT_EQ(f.set_val(-1.0, 0), errc::value_out_of_range);
    EXPECT_FALSE(f.set_val(0.0, 0)) << "within the tolerance below the smallest normal double";
    EXPECT_FALSE(f.set_val(1e-300, 0));
    EXPECT_EQ(count_of(log.text(), ", Float (\"F\"). Failed range check for parameter value=-1.000000e+00.\n"), 1u);
    EXPECT_EQ(f.get_inc(0).error(), errc::not_implemented);
    EXPECT_EQ(f.get_default(0).error(), errc::not_implemented);
    EXPECT_EQ(f.get_display_precision(), 6);
    EXPECT_EQ(f.get_representation(), GenICam::float_representation::PureNumber);
    EXPECT_EQ(f.get_display_notation(), GenICam::display_notation::Automatic);
}

TEST(float_nodes, range_check_tolerates_small_excess_and_stores_it_unclamped)
{
    auto doc = load_nodes(R"(<Float Name="F"><Value>1</Value><Min>0.0</Min><Max>10.0</Max>
        <DisplayNotation>Fixed</DisplayNotation><DisplayPrecision>3 digits</DisplayPrecision>
        <Representation>Boolean</Representation></Float>
        <Float Name="IntMin"><Value>0</Value><Min>3</Min><Inc>0.5</Inc></Float>)");
    IFloat& f = flt(*doc, "F");
    // Both bounds exactly; then the edges of the band of 1e-5 outside each
    // bound that still passes, a value inside it stored as given.
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        double sent;
        bool taken;
    };
    const row rows[] = {
        {0.0, true},
        {10.0, true},
        {std::nextafter(10.0, inf), true},
        {10.000005, true},
        {10.00001, true},
        {std::nextafter(10.00001, inf), false},
        {10.0001, false},
        {std::nextafter(0.0, -inf), true},
        {std::nextafter(-1e-5, 0.0), true},
        {-1e-5, false},
    };
    for (const row& r : rows) {
        const double before = f.get_val(0).value();
        const std::error_code written = f.set_val(r.sent, 0);
        EXPECT_EQ(written, r.taken ? std::error_code{} : make_error_code(errc::value_out_of_range)) << r.sent;
        EXPECT_EQ(f.get_val(0).value(), r.taken ? r.sent : before) << r.sent;
    }
    EXPECT_FALSE(f.set_val(10.000005, 0));
    EXPECT_EQ(f.get_val(0).value(), 10.000005);
    log_capture log;
    EXPECT_EQ(f.set_val(10.0001, 0), errc::value_out_of_range);
    EXPECT_EQ(f.get_display_notation(), GenICam::display_notation::Fixed);
    EXPECT_EQ(f.get_display_precision(), 3);
    EXPECT_EQ(f.get_representation(), GenICam::float_representation::PureNumber);
    EXPECT_NE(log.text().find("Invalid contents (\"Boolean\") of Float \"Representation\" xml node.\n"),
              std::string::npos);
    EXPECT_EQ(flt(*doc, "IntMin").get_min(0).value(), 3.0);
    EXPECT_EQ(flt(*doc, "IntMin").get_inc(0).value(), 0.5);
}

// A NaN lies within no range: every float writer refuses it, even when told
// to skip the range check, and neither the value nor the device changes.
TEST(float_nodes, nan_is_refused_by_every_writer_and_changes_nothing)
{
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <Float Name="Plain"><Value>0.5</Value><Min>0</Min><Max>1</Max></Float>
        <Float Name="Linked"><pValue>Wide</pValue></Float>
        <FloatReg Name="Wide"><Address>0x20</Address><Length>8</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <FloatReg Name="Single"><Address>0x30</Address><Length>4</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <IntReg Name="Raw"><Address>0x40</Address><Length>4</Length><Endianess>LittleEndian</Endianess></IntReg>
        <Converter Name="Scaled"><pValue>Raw</pValue><FormulaFrom>FROM / 10.0</FormulaFrom>
          <FormulaTo>TO * 10</FormulaTo></Converter>)");
    genicam_test::memory_device_port device;
    genicam_test::bind_device(*doc, device);
    ASSERT_FALSE(flt(*doc, "Wide").set_val(0.25));
    ASSERT_FALSE(flt(*doc, "Single").set_val(0.75));
    ASSERT_FALSE(flt(*doc, "Scaled").set_val(1.5));
    const auto memory_before = device.memory;
    const int writes_before = device.writes;
    for (const char* name : {"Plain", "Linked", "Wide", "Single", "Scaled"}) {
        IFloat& f = flt(*doc, name);
        const double before = f.get_val(0).value();
        int fired = 0;
        f.register_callback([&](GenICam::INode&) { ++fired; });
        for (const std::uint32_t flags : {GenICam::access_flags::none, GenICam::access_flags::skip_range_check}) {
            log_capture log;
            EXPECT_EQ(f.set_val(std::numeric_limits<double>::quiet_NaN(), flags), errc::value_out_of_range)
                << name << " flags " << flags;
            EXPECT_NE(log.text().find("Failed range check for parameter value="), std::string::npos) << name;
        }
        EXPECT_EQ(f.get_val(0).value(), before) << name;
        EXPECT_EQ(fired, 0) << name;
    }
    EXPECT_EQ(device.writes, writes_before);
    EXPECT_EQ(device.memory, memory_before);
}

TEST(float_nodes, constant_answers_without_the_access_check)
{
    auto doc = load_nodes(R"(<Float Name="C"><Value>2.5</Value><ImposedAccessMode>RO</ImposedAccessMode>
        <pIsImplemented>Off</pIsImplemented></Float><Integer Name="Off"><Value>0</Value></Integer>)");
    EXPECT_EQ(flt(*doc, "C").get_val(0).value(), 2.5);
    EXPECT_EQ(flt(*doc, "C").set_val(1.0, 0), errc::access_denied);
}

TEST(float_nodes, pvalue_to_an_integer_rounds_writes_and_converts_limits)
{
    auto doc = load_nodes(R"(<Integer Name="I"><Value>0</Value><Min>-5</Min></Integer>
        <Float Name="F"><pValue>I</pValue></Float>)");
    IFloat& f = flt(*doc, "F");
    EXPECT_EQ(f.get_min(0).value(), -5.0);
    EXPECT_FALSE(f.set_val(2.5, 0));
    auto* i = dynamic_cast<GenICam::IInteger*>(doc->find_node("I"));
    EXPECT_EQ(i->get_val(0).value(), 3);
    EXPECT_EQ(f.get_val(0).value(), 3.0);
}

TEST(float_nodes, index_table_holds_double_literals_and_presentation_falls_back_to_the_row)
{
    auto doc = load_nodes(R"(<Integer Name="Sel"><Value>1</Value></Integer>
        <Float Name="Row"><Value>2</Value><Unit>dB</Unit><DisplayPrecision>2</DisplayPrecision></Float>
        <Float Name="X"><pIndex>Sel</pIndex><ValueIndexed Index="0">0.25</ValueIndexed>
            <pValueIndexed Index="1">Row</pValueIndexed><ValueDefault>1e-3</ValueDefault></Float>)");
    IFloat& x = flt(*doc, "X");
    EXPECT_EQ(x.get_val(0).value(), 2.0);
    EXPECT_EQ(x.get_unit(), "dB");
    EXPECT_EQ(x.get_display_precision(), 2);
    auto* sel = dynamic_cast<GenICam::IInteger*>(doc->find_node("Sel"));
    ASSERT_FALSE(sel->set_val(0, 0));
    EXPECT_EQ(x.get_val(0).value(), 0.25);
    EXPECT_EQ(x.get_display_precision(), 6);
    ASSERT_FALSE(sel->set_val(5, 0));
    EXPECT_EQ(x.get_val(0).value(), 1e-3);
}

// The indexed node's own Min and Max bound every row, with the same band of
// tolerance as a plain Float, also where the selected node's range is wider.
TEST(float_nodes, index_refuses_values_past_its_own_limits_whichever_row_is_selected)
{
    auto doc = load_nodes(R"(<Integer Name="Sel"><Value>0</Value></Integer>
        <Float Name="Row1"><Value>5</Value><Min>-1000</Min><Max>1000</Max></Float>
        <Float Name="Bounded"><pIndex>Sel</pIndex><Min>0</Min><Max>10</Max>
            <ValueIndexed Index="0">1.5</ValueIndexed><pValueIndexed Index="1">Row1</pValueIndexed>
            <ValueIndexed Index="2">2.25</ValueIndexed><ValueDefault>2.5</ValueDefault></Float>)");
    IFloat& bounded = flt(*doc, "Bounded");
    auto* sel = dynamic_cast<GenICam::IInteger*>(doc->find_node("Sel"));
    ASSERT_NE(sel, nullptr);
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        std::int64_t selector;
        double held;
    };
    // A constant row, the node row, a constant row after it and the default row.
    const row rows[] = {{0, 1.5}, {1, 5.0}, {2, 2.25}, {9, 2.5}};
    for (const row& r : rows) {
        ASSERT_FALSE(sel->set_val(r.selector, 0));
        log_capture log;
        // The first values past the band below Min and above Max, then far past.
        for (const double past : {-1e-5, std::nextafter(10.00001, inf), -1.0, 11.0}) {
            EXPECT_EQ(bounded.set_val(past, 0), errc::value_out_of_range) << "row " << r.selector << " " << past;
            EXPECT_EQ(bounded.get_val(0).value(), r.held) << "row " << r.selector << " " << past;
        }
        EXPECT_EQ(flt(*doc, "Row1").get_val(0).value(), 5.0) << "row " << r.selector;
        EXPECT_EQ(count_of(log.text(), "Float (\"Bounded\"). Failed range check for parameter value=-1.000000e+00.\n"),
                  1u)
            << "row " << r.selector;
        for (const double edge : {0.0, 10.0, 9.5}) {
            EXPECT_FALSE(bounded.set_val(edge, 0)) << "row " << r.selector << " " << edge;
            EXPECT_EQ(bounded.get_val(0).value(), edge) << "row " << r.selector << " " << edge;
        }
        ASSERT_FALSE(bounded.set_val(r.held, 0));
    }
}

} // namespace
