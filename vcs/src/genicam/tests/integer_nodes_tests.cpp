#include "genicam/iinteger.h"
#include "genicam/ifloat.h"
#include "genicam/value_access.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using genicam_test::count_of;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::IInteger;
using GenICam::errc;
namespace flags = GenICam::access_flags;

constexpr std::int64_t int_min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int_max = std::numeric_limits<std::int64_t>::max();

IInteger& integer(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* node = dynamic_cast<IInteger*>(doc.find_node(name));
    EXPECT_NE(node, nullptr) << name;
    return *node;
}

TEST(integer_nodes, constant_refuses_writes_and_writable_accepts_any_value_without_limits)
{
    auto doc = load_nodes(R"(
        <Integer Name="Const"><Value>0x1F</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>
        <Integer Name="Free"><Value>- -5</Value></Integer>
        <Integer Name="Wo"><Value>12abc</Value><ImposedAccessMode>WO</ImposedAccessMode></Integer>
        <Integer Name="Bad"><Value>1</Value><ImposedAccessMode>ro</ImposedAccessMode></Integer>)");
    IInteger& constant = integer(*doc, "Const");
    EXPECT_EQ(constant.get_val(0).value(), 31);
    EXPECT_EQ(constant.set_val(1, 0), errc::access_denied);
    EXPECT_EQ(constant.set_val(1, flags::skip_access_check), errc::access_denied);

    IInteger& free = integer(*doc, "Free");
    EXPECT_EQ(free.get_val(0).value(), 5);
    EXPECT_EQ(free.get_min(0).value(), int_min);
    EXPECT_EQ(free.get_max(0).value(), int_max);
    EXPECT_EQ(free.get_inc(0).value(), 1);
    EXPECT_EQ(free.get_default(0).error(), errc::not_implemented);
    EXPECT_FALSE(free.set_val(int_min, 0));
    EXPECT_EQ(free.get_val(0).value(), int_min);

    IInteger& write_only = integer(*doc, "Wo");
    EXPECT_EQ(write_only.get_val(0).error(), errc::access_denied);
    EXPECT_EQ(write_only.get_val(flags::skip_access_check).value(), 12);
    EXPECT_FALSE(integer(*doc, "Bad").set_val(4, 0)) << "an unreadable ImposedAccessMode reads RW";
}

TEST(integer_nodes, range_check_uses_min_and_max_but_not_inc)
{
    auto doc = load_nodes(R"(
        <Integer Name="V"><Value>0</Value><Min>2.5</Min><pMax>MaxNode</pMax><Inc>4</Inc></Integer>
        <Integer Name="MaxNode"><Value>10</Value></Integer>
        <Integer Name="Neg"><Value>0</Value><Min>-2.5</Min></Integer>)");
    IInteger& v = integer(*doc, "V");
    EXPECT_EQ(v.get_min(0).value(), 3) << "a floating literal rounds half away from zero";
    EXPECT_EQ(integer(*doc, "Neg").get_min(0).value(), -3);
    EXPECT_EQ(v.get_max(0).value(), 10);
    EXPECT_FALSE(v.set_val(7, 0)) << "Inc is not checked";
    log_capture log;
    EXPECT_EQ(v.set_val(11, 0), errc::value_out_of_range);
    EXPECT_EQ(v.set_val(2, 0), errc::value_out_of_range);
    EXPECT_EQ(v.get_val(0).value(), 7) << "a refused write changes nothing";
    EXPECT_FALSE(v.set_val(11, flags::skip_range_check));
    EXPECT_EQ(count_of(log.text(), "Integer (\"V\"). Failed range check for parameter value=11.\n"), 1u);
    // The link follows its node.
    ASSERT_FALSE(integer(*doc, "MaxNode").set_val(20, 0));
    EXPECT_FALSE(v.set_val(15, 0));
}

TEST(integer_nodes, link_wins_over_literal_with_a_message)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <Integer Name="V"><Value>0</Value><Min>1</Min><pMin>M</pMin><pMax>Missing</pMax></Integer>
        <Integer Name="M"><Value>-4</Value></Integer>)");
    const std::string lines = log.text();
    EXPECT_EQ(count_of(lines, "GenICam::impl::resolve_link_or_value_, Integer \"V\". Node contains both \"Min\" and "
                              "\"pMin\" nodes.\n"),
              1u)
        << lines;
    EXPECT_EQ(count_of(lines, "GenICam::impl::resolve_link_or_value_, Integer \"V\". Failed to resolve node in "
                              "\"Max\" .\n"),
              1u)
        << lines;
    EXPECT_EQ(integer(*doc, "V").get_min(0).value(), -4);
    EXPECT_EQ(integer(*doc, "V").get_max(0).value(), int_max);
}

TEST(integer_nodes, writes_propagate_only_on_change_and_reach_dependents)
{
    auto doc = load_nodes(R"(
        <Integer Name="Source"><Value>1</Value></Integer>
        <Integer Name="Link"><pValue>Source</pValue></Integer>
        <Integer Name="Far"><pValue>Link</pValue></Integer>
        <Integer Name="Watcher"><Value>0</Value><pIsAvailable>Far</pIsAvailable></Integer>)");
    int link_fired = 0;
    int watcher_fired = 0;
    int source_fired = 0;
    doc->find_node("Link")->register_callback([&](GenICam::INode&) { ++link_fired; });
    doc->find_node("Watcher")->register_callback([&](GenICam::INode&) { ++watcher_fired; });
    doc->find_node("Source")->register_callback([&](GenICam::INode&) { ++source_fired; });
    EXPECT_FALSE(integer(*doc, "Far").set_val(1, 0)) << "same value";
    EXPECT_EQ(source_fired + link_fired + watcher_fired, 0);
    EXPECT_FALSE(integer(*doc, "Far").set_val(0, 0));
    EXPECT_EQ(source_fired, 1);
    EXPECT_EQ(link_fired, 1);
    EXPECT_EQ(watcher_fired, 1) << "dependents are reached transitively";
    EXPECT_EQ(integer(*doc, "Watcher").get_val(0).error(), errc::node_not_available);
    EXPECT_EQ(integer(*doc, "Link").get_val(0).value(), 0);
}

TEST(integer_nodes, pvalue_delegates_limits_and_reports_a_missing_target)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <Integer Name="Target"><Value>5</Value><Min>0</Min><Max>9</Max><Default>4</Default></Integer>
        <Float Name="F"><Value>1.5</Value><Min>-2.5</Min></Float>
        <Integer Name="ToInt"><pValue>Target</pValue></Integer>
        <Integer Name="ToFloat"><pValue>F</pValue></Integer>
        <Integer Name="Nowhere"><pValue>Missing</pValue></Integer>)");
    IInteger& to_int = integer(*doc, "ToInt");
    EXPECT_EQ(to_int.get_max(0).value(), 9);
    EXPECT_EQ(to_int.get_default(0).value(), 4);
    EXPECT_EQ(to_int.set_val(10, 0), errc::value_out_of_range);
    EXPECT_FALSE(to_int.set_val(8, 0));
    EXPECT_EQ(integer(*doc, "Target").get_val(0).value(), 8);
    IInteger& to_float = integer(*doc, "ToFloat");
    EXPECT_EQ(to_float.get_val(0).value(), 2) << "1.5 rounds to 2";
    EXPECT_EQ(to_float.get_min(0).value(), -3);
    IInteger& nowhere = integer(*doc, "Nowhere");
    EXPECT_EQ(nowhere.get_val(0).error(), errc::not_implemented);
    EXPECT_EQ(nowhere.set_val(1, 0), errc::not_implemented);
    EXPECT_EQ(nowhere.get_min(0).error(), errc::not_implemented);
    EXPECT_NE(log.text().find("Integer (\"Nowhere\"). Failed to parse or resolve \"pValue\" xml element.\n"),
              std::string::npos);
}

TEST(integer_nodes, value_copy_writes_every_target_until_one_refuses)
{
    auto doc = load_nodes(R"(
        <Integer Name="Copy"><pValue>Main</pValue><pValueCopy>A</pValueCopy><pValueCopy>B</pValueCopy>
            <pValueCopy>C</pValueCopy></Integer>
        <Integer Name="Main"><Value>0</Value><Min>-10</Min></Integer>
        <Integer Name="A"><Value>0</Value><Max>100</Max></Integer>
        <Integer Name="B"><Value>0</Value><Max>5</Max><ImposedAccessMode>RO</ImposedAccessMode></Integer>
        <Integer Name="C"><Value>0</Value><Max>50</Max></Integer>)");
    IInteger& copy = integer(*doc, "Copy");
    EXPECT_EQ(copy.get_min(0).value(), -10);
    EXPECT_EQ(copy.get_max(0).value(), 5) << "smallest Max of all targets";
    log_capture log;
    EXPECT_EQ(copy.set_val(7, 0), errc::value_out_of_range) << "its own range check comes first";
    EXPECT_EQ(copy.set_val(7, flags::skip_range_check), errc::access_denied);
    EXPECT_EQ(integer(*doc, "Main").get_val(0).value(), 7);
    EXPECT_EQ(integer(*doc, "A").get_val(0).value(), 7);
    EXPECT_EQ(integer(*doc, "B").get_val(0).value(), 0);
    EXPECT_EQ(integer(*doc, "C").get_val(0).value(), 0);
    EXPECT_EQ(copy.get_val(0).value(), 7);
}

TEST(integer_nodes, index_selects_rows_and_writes_report_the_selected_node)
{
    auto doc = load_nodes(R"(
        <Integer Name="Sel"><Value>0</Value></Integer>
        <Integer Name="Row0"><Value>100</Value><Min>50</Min><Max>200</Max><Unit>ms</Unit></Integer>
        <Integer Name="Indexed"><pIndex>Sel</pIndex><Min>0</Min><ValueIndexed Index="0">7</ValueIndexed>
            <pValueIndexed Index="0">Row0</pValueIndexed><ValueIndexed Index="2">20</ValueIndexed>
            <ValueDefault>3</ValueDefault></Integer>)");
    IInteger& indexed = integer(*doc, "Indexed");
    IInteger& sel = integer(*doc, "Sel");
    EXPECT_EQ(indexed.get_val(0).value(), 100) << "a pValueIndexed row comes before any ValueIndexed row";
    EXPECT_EQ(indexed.get_unit(), "ms");
    EXPECT_EQ(indexed.get_max(0).value(), 200);
    log_capture log;
    EXPECT_EQ(indexed.set_val(300, 0), errc::value_out_of_range);
    EXPECT_EQ(indexed.set_val(10, 0), errc::value_out_of_range) << "the selected node's refusal is the answer";
    EXPECT_EQ(integer(*doc, "Row0").get_val(0).value(), 100);
    ASSERT_FALSE(sel.set_val(2, 0));
    EXPECT_EQ(indexed.get_val(0).value(), 20);
    EXPECT_EQ(indexed.get_max(0).value(), int_max);
    EXPECT_EQ(indexed.get_unit(), "");
    ASSERT_FALSE(sel.set_val(9, 0));
    EXPECT_EQ(indexed.get_val(0).value(), 3) << "no row: the default row";
    int fired = 0;
    indexed.register_callback([&](GenICam::INode&) { ++fired; });
    EXPECT_FALSE(indexed.set_val(42, 0));
    EXPECT_EQ(indexed.get_val(0).value(), 42);
    EXPECT_EQ(fired, 1);
}

// The indexed node's own Min and Max bound every row, also a row whose node
// would take the value and a constant row that has no limits of its own.
TEST(integer_nodes, index_refuses_values_past_its_own_limits_whichever_row_is_selected)
{
    auto doc = load_nodes(R"(
        <Integer Name="Sel"><Value>0</Value></Integer>
        <Integer Name="Row1"><Value>5</Value></Integer>
        <Integer Name="Bounded"><pIndex>Sel</pIndex><Min>-10</Min><Max>10</Max>
            <ValueIndexed Index="0">1</ValueIndexed><pValueIndexed Index="1">Row1</pValueIndexed>
            <ValueIndexed Index="2">2</ValueIndexed><ValueDefault>3</ValueDefault></Integer>)");
    IInteger& bounded = integer(*doc, "Bounded");
    struct row {
        std::int64_t selector;
        std::int64_t held;
    };
    // A constant row, the node row, a constant row after it and the default row.
    const row rows[] = {{0, 1}, {1, 5}, {2, 2}, {9, 3}};
    for (const row& r : rows) {
        ASSERT_FALSE(integer(*doc, "Sel").set_val(r.selector, 0));
        log_capture log;
        for (const std::int64_t past : {std::int64_t{-11}, std::int64_t{11}, int_min, int_max}) {
            EXPECT_EQ(bounded.set_val(past, 0), errc::value_out_of_range) << "row " << r.selector << " " << past;
            EXPECT_EQ(bounded.get_val(0).value(), r.held) << "row " << r.selector << " " << past;
        }
        EXPECT_EQ(integer(*doc, "Row1").get_val(0).value(), 5) << "row " << r.selector;
        EXPECT_EQ(count_of(log.text(), "Integer (\"Bounded\"). Failed range check for parameter value=-11.\n"), 1u)
            << "row " << r.selector;
        for (const std::int64_t edge : {std::int64_t{-10}, std::int64_t{10}, std::int64_t{-9}}) {
            EXPECT_FALSE(bounded.set_val(edge, 0)) << "row " << r.selector << " " << edge;
            EXPECT_EQ(bounded.get_val(0).value(), edge) << "row " << r.selector << " " << edge;
        }
        ASSERT_FALSE(bounded.set_val(r.held, 0));
    }
}

TEST(integer_nodes, index_must_name_an_integer)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <Float Name="F"><Value>1</Value></Float>
        <Integer Name="ByFloat"><pIndex>F</pIndex><ValueDefault>3</ValueDefault><Min>1</Min></Integer>
        <Integer Name="ByNothing"><pIndex>Missing</pIndex><ValueDefault>3</ValueDefault></Integer>)");
    EXPECT_EQ(count_of(log.text(), "GenICam::impl::resolve_pIndex, Integer (\"ByFloat\"). Invalid or no IInteger "
                                   "base \"pIndex\" element.\n"),
              1u);
    IInteger& by_float = integer(*doc, "ByFloat");
    EXPECT_EQ(by_float.get_val(0).error(), errc::not_implemented);
    EXPECT_EQ(by_float.set_val(1, 0), errc::not_implemented);
    EXPECT_EQ(by_float.get_min(0).value(), int_min) << "Min stays absent";
    EXPECT_EQ(integer(*doc, "ByNothing").get_val(0).error(), errc::not_implemented);
}

TEST(value_access, doubles_round_half_away_from_zero_and_non_numbers_give_the_smallest_integer)
{
    auto doc = load_nodes(R"(<Integer Name="V"><Value>0</Value></Integer>
        <Integer Name="Ranged"><Value>0</Value><Min>0</Min></Integer>)");
    GenICam::INode& v = *doc->find_node("V");
    using GenICam::impl::set_eval_val;
    EXPECT_FALSE(set_eval_val(v, 2.5, 0));
    EXPECT_EQ(integer(*doc, "V").get_val(0).value(), 3);
    EXPECT_FALSE(set_eval_val(v, -2.5, 0));
    EXPECT_EQ(integer(*doc, "V").get_val(0).value(), -3);
    for (double odd : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300}) {
        EXPECT_FALSE(set_eval_val(v, odd, 0));
        EXPECT_EQ(integer(*doc, "V").get_val(0).value(), int_min) << odd;
        log_capture log;
        EXPECT_EQ(set_eval_val(*doc->find_node("Ranged"), odd, 0), errc::value_out_of_range) << odd;
    }
}

TEST(value_access, pvalue_cycles_end_in_an_error_instead_of_the_stack)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <Integer Name="A"><pValue>B</pValue></Integer>
        <Integer Name="B"><pValue>A</pValue></Integer>
        <Integer Name="Self"><Value>1</Value><pIsAvailable>Self</pIsAvailable><pMin>Self</pMin></Integer>)");
    EXPECT_TRUE(integer(*doc, "A").get_val(0).has_error());
    EXPECT_TRUE(integer(*doc, "A").set_val(1, 0));
    EXPECT_EQ(doc->find_node("A")->get_access_mode(), GenICam::access_mode::NA);
    (void)integer(*doc, "Self").get_val(0);
    (void)integer(*doc, "Self").set_val(2, 0);
    EXPECT_TRUE(doc->find_node("Self")->is_available());
}

} // namespace

namespace {

TEST(value_access, index_chains_answer_and_self_indexed_nodes_fail_fast)
{
    // Each index read is evaluated twice per level (access mode and value):
    // chains must still answer, and a node indexed by itself must end.
    std::string nodes;
    for (int i = 0; i < 8; ++i) {
        nodes += "<Integer Name=\"P" + std::to_string(i) + "\"><pIndex>P" + std::to_string(i + 1) +
                 "</pIndex><ValueIndexed Index=\"5\">5</ValueIndexed><ValueDefault>0</ValueDefault></Integer>";
    }
    nodes += R"(<Integer Name="P8"><Value>5</Value></Integer>
        <Integer Name="Self"><pIndex>Self</pIndex><ValueDefault>1</ValueDefault></Integer>)";
    log_capture log;
    auto doc = load_nodes(nodes);
    EXPECT_EQ(integer(*doc, "P0").get_val(0).value(), 5);
    EXPECT_TRUE(integer(*doc, "Self").get_val(0).has_error());
    EXPECT_TRUE(integer(*doc, "Self").set_val(1, 0));
}

} // namespace
