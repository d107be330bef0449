#include "genicam/ienumeration.h"
#include "genicam/iinteger.h"
#include "genicam/value_access.h"
#include "test_documents.h"

#include <gtest/gtest.h>

namespace {

using genicam_test::count_of;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::IEnumeration;
using GenICam::errc;

IEnumeration& enumeration(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* node = dynamic_cast<IEnumeration*>(doc.find_node(name));
    EXPECT_NE(node, nullptr) << name;
    return *node;
}

TEST(enumeration_nodes, entries_keep_document_order_and_lookups_pick_the_first)
{
    log_capture log;
    auto doc = load_nodes(R"(<Enumeration Name="E"><Value>1</Value>
        <EnumEntry Name="Zero"><Value>0</Value><NumericValue>1.0</NumericValue></EnumEntry>
        <EnumEntry Name="One"><Value>1</Value><IsSelfClearing>yes</IsSelfClearing></EnumEntry>
        <EnumEntry Name="AlsoOne"><Value>1</Value><NumericValue>3.0</NumericValue>
            <IsSelfClearing>Yes</IsSelfClearing></EnumEntry>
        <EnumEntry Name="Broken"><Value>x</Value></EnumEntry>
        <PollingTime>-5</PollingTime></Enumeration>)");
    IEnumeration& e = enumeration(*doc, "E");
    const auto entries = e.get_entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1]->get_name(), "One");
    EXPECT_EQ(entries[3]->get_ordinal(), 3);
    EXPECT_EQ(entries[3]->get_value(), 0) << "an unreadable Value is kept as 0";
    EXPECT_EQ(entries[0]->get_node_type(), GenICam::node_type::EnumEntry);
    EXPECT_FALSE(entries[1]->is_self_clearing());
    EXPECT_TRUE(entries[2]->is_self_clearing());
    EXPECT_EQ(e.find_entry_by_value(1), entries[1]);
    EXPECT_EQ(e.find_entry_by_name("AlsoOne"), entries[2]);
    EXPECT_EQ(e.find_entry_by_name("alsoone"), nullptr);
    EXPECT_EQ(e.find_entry_by_numeric_value(2.0), entries[0]) << "the first of equal distances";
    EXPECT_EQ(e.get_entry(0).value(), entries[1]);
    EXPECT_FALSE(e.get_polling_time().has_value());
    EXPECT_EQ(doc->find_node("One"), nullptr) << "entries are not in the node list";
    EXPECT_EQ(count_of(log.text(), "EnumEntry (\"Broken\"). Failed to parse \"Value\" xml node.\n"), 1u);
}

TEST(enumeration_nodes, selecting_an_entry_propagates_only_a_change)
{
    auto doc = load_nodes(R"(<Enumeration Name="E"><Value>0</Value>
        <EnumEntry Name="A"><Value>0</Value></EnumEntry><EnumEntry Name="B"><Value>5</Value></EnumEntry>
        </Enumeration><Integer Name="Dep"><Value>0</Value><pIsAvailable>E</pIsAvailable></Integer>)");
    IEnumeration& e = enumeration(*doc, "E");
    int fired = 0;
    doc->find_node("Dep")->register_callback([&](GenICam::INode&) { ++fired; });
    EXPECT_FALSE(e.set_entry(e.find_entry_by_name("A"), 0));
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(e.set_entry(e.find_entry_by_name("B"), 0));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(e.set_entry(nullptr, 0), errc::index_out_of_range);
    EXPECT_EQ(GenICam::impl::get_eval_val<std::int64_t>(e, 0).value(), 5);
}

TEST(enumeration_nodes, without_entries_every_lookup_finds_nothing)
{
    log_capture log;
    auto doc = load_nodes(R"(<Enumeration Name="E"><Value>3</Value></Enumeration>)");
    IEnumeration& e = enumeration(*doc, "E");
    EXPECT_TRUE(e.get_entries().empty());
    EXPECT_EQ(e.find_entry_by_value(3), nullptr);
    EXPECT_EQ(e.find_entry_by_numeric_value(3.0), nullptr);
    EXPECT_EQ(e.get_entry(0).error(), errc::index_out_of_range);
    EXPECT_NE(log.text().find("Enumeration (\"E\"). Failed to find EnumEntry corresponding to current value=3.\n"),
              std::string::npos);
}

TEST(enumeration_nodes, pvalue_enumeration_reads_and_writes_its_target)
{
    auto doc = load_nodes(R"(<Integer Name="Reg"><Value>2</Value></Integer>
        <Enumeration Name="E"><pValue>Reg</pValue><EnumEntry Name="Two"><Value>2</Value></EnumEntry>
        <EnumEntry Name="Seven"><Value>7</Value></EnumEntry></Enumeration>
        <Enumeration Name="Lost"><pValue>Missing</pValue><EnumEntry Name="X"><Value>0</Value></EnumEntry>
        </Enumeration>)");
    IEnumeration& e = enumeration(*doc, "E");
    EXPECT_EQ(e.get_entry(0).value()->get_name(), "Two");
    EXPECT_FALSE(e.set_entry(e.find_entry_by_name("Seven"), 0));
    EXPECT_EQ(dynamic_cast<GenICam::IInteger*>(doc->find_node("Reg"))->get_val(0).value(), 7);
    IEnumeration& lost = enumeration(*doc, "Lost");
    EXPECT_EQ(lost.get_entry(0).error(), errc::not_implemented);
    EXPECT_EQ(lost.set_entry(lost.find_entry_by_name("X"), 0), errc::not_implemented);
}

TEST(enumeration_nodes, entries_have_their_own_conditions)
{
    auto doc = load_nodes(R"(<Integer Name="Off"><Value>0</Value></Integer>
        <Enumeration Name="E"><Value>0</Value><EnumEntry Name="A"><Value>0</Value>
        <pIsImplemented>Off</pIsImplemented></EnumEntry><EnumEntry Name="B"><Value>1</Value></EnumEntry>
        </Enumeration>)");
    IEnumeration& e = enumeration(*doc, "E");
    EXPECT_FALSE(e.find_entry_by_name("A")->is_implemented());
    EXPECT_TRUE(e.find_entry_by_name("B")->is_implemented());
}

} // namespace
