#include "genicam/child_names.h"
#include "genicam/element_children.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using GenICam::impl::child_element;
using GenICam::impl::classify_child_name;
using GenICam::impl::element_children;
using GenICam::impl::element_children_store;
using GenICam::impl::known_child_names;
using GenICam::impl::unknown_child;

TEST(child_names, every_known_name_classifies_to_itself_and_nothing_else_matches)
{
    for (std::size_t i = 0; i < known_child_names.size(); ++i) {
        const std::string name(known_child_names[i]);
        EXPECT_EQ(classify_child_name(name.c_str()), i) << name;
        // One character changed, at every place in turn: whatever part of
        // the name the lookup reads first, the whole of it must decide.
        for (std::size_t at = 0; at < name.size(); ++at) {
            std::string near = name;
            near[at] = near[at] == 'x' ? 'y' : 'x';
            EXPECT_EQ(classify_child_name(near.c_str()), unknown_child) << near;
        }
        EXPECT_EQ(classify_child_name((name + "x").c_str()), unknown_child) << name;
        EXPECT_EQ(classify_child_name(name.substr(0, name.size() - 1).c_str()), unknown_child) << name;
    }
    for (const char* other : {"", "value", "VALUE", "Valu", "Values", "pvalue", "p", "Integer ", "x"}) {
        EXPECT_EQ(classify_child_name(other), unknown_child) << other;
    }
}

TEST(child_names, names_read_at_every_place_before_a_page_end_classify_alike)
{
    // Near the end of a page a name is read byte by byte instead of with one
    // load: both readings must give the same key, for every known name and a
    // near miss of it, and must not see the bytes after the terminator.
    constexpr std::size_t page = 4096;
    std::vector<char> block(3 * page, 'x');
    const auto misalignment = reinterpret_cast<std::uintptr_t>(block.data()) % page;
    char* const page_end = block.data() + (misalignment == 0 ? 0 : page - misalignment) + page;
    for (std::size_t i = 0; i < known_child_names.size(); ++i) {
        const std::string name(known_child_names[i]);
        for (std::size_t before_end = name.size() + 1; before_end <= name.size() + 20; ++before_end) {
            char* const at = page_end - before_end;
            std::fill(at, page_end + 16, 'x');
            name.copy(at, name.size());
            at[name.size()] = '\0';
            ASSERT_EQ(classify_child_name(at), i) << name << " ending " << before_end << " bytes before a page end";
            at[0] = at[0] == 'x' ? 'y' : 'x';
            ASSERT_EQ(classify_child_name(at), unknown_child) << at;
        }
    }
}

TEST(element_children, keeps_element_children_in_document_order_with_their_texts)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(
        R"(<Integer Name="N">text<!-- note --><pFeature>A</pFeature>
        <Value>7</Value><Unknown>u</Unknown><pFeature>B</pFeature><pFeature/><Value>8</Value></Integer>)"));
    element_children_store store;
    const element_children& c = store.build(doc.first_child());
    EXPECT_EQ(c.name(), "N");
    EXPECT_EQ(c.element(), doc.first_child());
    ASSERT_EQ(c.size(), 6u) << "element children only, unknown names included";
    EXPECT_EQ(c.key_at(2), unknown_child);
    EXPECT_EQ(c.entry(2).text, "u");
    EXPECT_EQ(c.text("Value"), "7") << "the first of its key";
    EXPECT_TRUE(c.has("pFeature"));
    EXPECT_FALSE(c.has("pValue"));
    EXPECT_EQ(c.text("pValue"), "");
    EXPECT_FALSE(c.first("pValue"));
    EXPECT_EQ(c.count("pFeature"), 3u);
    std::vector<std::string> features;
    for (const child_element& f : c.all("pFeature")) {
        features.emplace_back(f.text);
    }
    EXPECT_EQ(features, (std::vector<std::string>{"A", "B", ""}));
    EXPECT_EQ(std::string(c.first("pFeature").name()), "pFeature");

    const element_children& none = element_children::none();
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.text("Value"), "");
    EXPECT_EQ(none.all("Value").begin(), none.all("Value").end());
}

TEST(element_children, names_and_key_attributes_are_the_first_attributes_of_exactly_that_name)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(R"(<IntSwissKnife Nam="a" NameX="b" Name="K" Name="second">
        <pVariable Index="1" name="lower" Name="A">X</pVariable>
        <pVariable>Y</pVariable>
        <ValueIndexed Name="n" Index="3">7</ValueIndexed>
        <Constant Name="">1</Constant></IntSwissKnife>)",
                                pugi::parse_default));
    element_children_store store;
    const element_children& c = store.build(doc.first_child());
    EXPECT_EQ(c.name(), "K");
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c.entry(0).key_attribute, "A");
    EXPECT_EQ(c.entry(1).key_attribute, "");
    EXPECT_EQ(c.entry(2).key_attribute, "3");
    EXPECT_EQ(c.entry(3).key_attribute, "");
    pugi::xml_document unnamed;
    ASSERT_TRUE(unnamed.load_string("<Integer names=\"x\"><Value>1</Value></Integer>"));
    EXPECT_EQ(store.build(unnamed.first_child()).name(), "");
}

TEST(element_children, keys_that_share_a_presence_bit_are_told_apart)
{
    // Keys 64 apart share their bit in a table's summary of the keys it
    // holds: a table with one of them must still find only that one.
    using GenICam::impl::child_key;
    ASSERT_GT(known_child_names.size(), 64u);
    for (std::size_t low = 0; low + 64 < known_child_names.size(); ++low) {
        for (const std::size_t held : {low, low + 64}) {
            const std::size_t other = held == low ? low + 64 : low;
            const std::string name(known_child_names[held]);
            pugi::xml_document doc;
            ASSERT_TRUE(doc.load_string(("<Integer Name=\"N\"><" + name + ">t</" + name + ">"
                                         "<" + name + ">u</" + name + "></Integer>")
                                            .c_str()));
            element_children_store store;
            const element_children& c = store.build(doc.first_child());
            const child_key held_key = child_key::from_index(static_cast<std::uint8_t>(held));
            const child_key other_key = child_key::from_index(static_cast<std::uint8_t>(other));
            EXPECT_TRUE(c.has(held_key)) << name;
            EXPECT_EQ(c.text(held_key), "t") << name;
            EXPECT_EQ(c.count(held_key), 2u) << name;
            EXPECT_FALSE(c.has(other_key)) << known_child_names[other];
            EXPECT_EQ(c.count(other_key), 0u) << known_child_names[other];
            EXPECT_EQ(c.text(other_key), "") << known_child_names[other];
        }
    }
}

TEST(element_children, enumeration_entries_are_read_with_their_enumeration_one_level_deep)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(R"(<Enumeration Name="E">
        <EnumEntry Name="E_A"><Value>0</Value><EnumEntry Name="Deeper"><Value>9</Value></EnumEntry></EnumEntry>
        <pValue>P</pValue>
        <EnumEntry Name="E_B"><Value>1</Value></EnumEntry></Enumeration>)"));
    element_children_store store;
    const element_children& e = store.build(doc.first_child());
    ASSERT_EQ(e.size(), 3u);
    ASSERT_NE(e.nested(0), nullptr);
    EXPECT_EQ(e.nested(0)->name(), "E_A");
    EXPECT_EQ(e.nested(0)->text("Value"), "0");
    EXPECT_EQ(e.nested(1), nullptr) << "only entries have tables of their own";
    ASSERT_NE(e.nested(2), nullptr);
    EXPECT_EQ(e.nested(2)->text("Value"), "1");
    // An entry inside an entry is left for whoever asks: reading it here
    // would let a description nest tables without bound.
    ASSERT_EQ(e.nested(0)->size(), 2u);
    EXPECT_EQ(e.nested(0)->nested(1), nullptr);
    // Elements of other kinds carry no nested tables at all.
    EXPECT_EQ(e.nested(0)->nested(0), nullptr);
}

} // namespace
