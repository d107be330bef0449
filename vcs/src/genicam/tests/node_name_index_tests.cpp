#include "genicam/name_words.h"
#include "genicam/node_name_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using GenICam::INode;
using GenICam::impl::name_key;
using GenICam::impl::node_name_index;

// Byte-wise over the shorter length, then the shorter first: the order the
// document promises for its node list.
bool reference_less(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

// Names built to collide on their leading bytes: shared prefixes of every
// length around eight, bytes above 0x7F, and repeated names.
std::vector<std::string> colliding_names(std::size_t count, unsigned seed)
{
    static const std::array<std::string, 6> stems = {"Enum1234", "Enum123", "Gain", "GainSelectorLong", "\xC3\xA9t",
                                                     "A"};
    std::mt19937 random(seed);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = stems[random() % stems.size()];
        const std::size_t extra = random() % 12;
        for (std::size_t k = 0; k < extra; ++k) {
            name.push_back("_AZaz09\xB0"[random() % 8]);
        }
        names.push_back(name);
    }
    return names;
}

// An index over the names, sorted. The index only moves node pointers:
// distinct addresses stand in for nodes here and are never dereferenced.
struct indexed_names {
    explicit indexed_names(const std::vector<std::string>& names)
        : stand_ins(names.size())
    {
        std::vector<name_key> keys;
        for (std::size_t i = 0; i < names.size(); ++i) {
            nodes.push_back(reinterpret_cast<INode*>(&stand_ins[i]));
            keys.push_back(name_key::of(names[i]));
        }
        index.sort_and_index(nodes, keys, rank_of);
    }

    std::vector<char> stand_ins;
    std::vector<INode*> nodes; // in name order
    node_name_index index;
    std::vector<std::uint32_t> rank_of;
};

TEST(node_name_index, sorts_like_a_bytewise_comparison_and_finds_every_name)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::vector<std::string> names = colliding_names(300, seed);
        indexed_names indexed(names);
        const std::vector<INode*>& nodes = indexed.nodes;
        std::vector<char>& stand_ins = indexed.stand_ins;
        const node_name_index& index = indexed.index;
        const std::vector<std::uint32_t>& rank_of = indexed.rank_of;

        std::vector<std::string> sorted;
        for (INode* node : nodes) {
            sorted.push_back(names[static_cast<std::size_t>(reinterpret_cast<char*>(node) - stand_ins.data())]);
        }
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end(), reference_less);
        ASSERT_EQ(sorted, expected) << "seed " << seed;

        for (std::size_t i = 0; i < names.size(); ++i) {
            ASSERT_EQ(nodes[rank_of[i]], reinterpret_cast<INode*>(&stand_ins[i]));
            const std::size_t found = index.find(names[i]);
            ASSERT_NE(found, node_name_index::npos) << names[i];
            // Of equal names the first in order is the one found.
            EXPECT_EQ(sorted[found], names[i]);
            EXPECT_TRUE(found == 0 || sorted[found - 1] != names[i]) << names[i];
        }
        EXPECT_EQ(index.find("Enum12345678901234567890"), node_name_index::npos);
        EXPECT_EQ(index.find("Gai"), node_name_index::npos);
    }
}

TEST(node_name_index, long_names_that_differ_only_in_the_middle_are_told_apart)
{
    // Same first and last eight bytes, same length: only the bytes between
    // tell these apart.
    const std::vector<std::string> names = {"AcquisitionXFrameRateAbs", "AcquisitionYFrameRateAbs",
                                            "AcquisitionZFrameRateAbs"};
    const indexed_names indexed(names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(indexed.index.find(names[i]), indexed.rank_of[i]) << names[i];
    }
    EXPECT_EQ(indexed.index.find("AcquisitionWFrameRateAbs"), node_name_index::npos);
}

TEST(node_name_index, finds_every_name_whatever_the_count_of_names)
{
    // A slot shares its bits between the position and the tag, split by the
    // count of names: counts around each power of two move the split.
    for (const std::size_t count : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 255u, 256u, 257u, 4095u, 4096u, 4097u}) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back("Feature" + std::to_string(i * 7919 % 10007));
        }
        const indexed_names indexed(names);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(indexed.index.find(names[i]), indexed.rank_of[i]) << names[i] << " of " << count;
        }
        EXPECT_EQ(indexed.index.find("Feature10007"), node_name_index::npos) << count;
        EXPECT_EQ(indexed.index.find("Feature"), node_name_index::npos) << count;
    }
}

TEST(node_name_index, a_name_asked_for_with_zero_bytes_is_not_the_name_without_them)
{
    // Padded words cannot tell "Gain" from "Gain" and a zero byte: the
    // lengths must.
    const indexed_names indexed({"Gain", "Gain2", "GainSelectorLongName"});
    EXPECT_EQ(indexed.index.find(std::string_view("Gain\0", 5)), node_name_index::npos);
    EXPECT_EQ(indexed.index.find(std::string_view("Gain\0\0\0\0\0\0\0\0\0\0\0\0", 16)), node_name_index::npos);
    EXPECT_EQ(indexed.index.find(std::string_view("GainSelectorLongName\0", 21)), node_name_index::npos);
    EXPECT_EQ(indexed.index.find("Gain"), indexed.rank_of[0]);
}

// A name's padded words, made byte by byte.
GenICam::impl::name_words padded_byte_by_byte(const std::string& name)
{
    if (name.size() >= 16) {
        return GenICam::impl::words_of(name.data(), name.size());
    }
    GenICam::impl::name_words words;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const std::uint64_t byte = static_cast<unsigned char>(name[i]);
        (i < 8 ? words.first : words.last) |= byte << (8 * (i % 8));
    }
    return words;
}

TEST(name_words, padded_words_read_with_loads_equal_those_made_byte_by_byte)
{
    // Every length up to past the sixteen that the padded form covers, at
    // the end of its buffer so that no load may reach past the name.
    for (std::size_t length = 0; length <= 24; ++length) {
        std::string name;
        for (std::size_t i = 0; i < length; ++i) {
            name.push_back(static_cast<char>(0x80 + 7 * i));
        }
        std::vector<char> exact(name.begin(), name.end());
        const GenICam::impl::name_words words = GenICam::impl::padded_words(exact.data(), length);
        EXPECT_EQ(words, padded_byte_by_byte(name)) << length;
        if (length < 16) {
            EXPECT_EQ(GenICam::impl::padded_length(words), length);
        }
    }
}

TEST(name_words, terminated_length_matches_strlen_at_every_place_around_a_page_end)
{
    // Texts that end before, at and after a page boundary, of every length
    // up to well past one vector load, with bytes after the terminator that
    // must not count.
    constexpr std::size_t page = 4096;
    std::vector<char> block(3 * page);
    const auto misalignment = reinterpret_cast<std::uintptr_t>(block.data()) % page;
    char* const memory = block.data() + (misalignment == 0 ? 0 : page - misalignment);
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t start = page - 48; start <= page + 8; ++start) {
            std::memset(memory, 'x', 2 * page);
            std::memset(memory + start, '\xC3', length);
            memory[start + length] = '\0';
            ASSERT_EQ(GenICam::impl::terminated_length(memory + start), length) << "at " << start;
            ASSERT_EQ(GenICam::impl::terminated_view(memory + start).size(), length);
        }
    }
}

} // namespace
