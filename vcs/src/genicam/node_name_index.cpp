#include "genicam/node_name_index.h"

#include "genicam/name_words.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace GenICam::impl {

namespace {

// Hashes the name's words (name_words.h) and, for names of over sixteen
// bytes, its middle: no loop over single characters. The index takes a
// name's slot from the top bits of the hash and its tag from the bits below.
std::uint64_t hash_name(std::string_view name, const name_words& words) noexcept
{
    std::uint64_t h = hash_words(words, name.size());
    for (std::size_t at = 8; at + 8 < name.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, name.data() + at, 8);
        h = (std::rotl(h, 29) ^ word) * 0x94d049bb133111ebull;
    }
    return h;
}

// A node's place in the unsorted list and its name's leading bytes: sixteen
// bytes to move, and most comparisons decide on the one number.
struct sort_key {
    std::uint64_t prefix;
    std::uint32_t position;
};

bool name_less(std::string_view a, std::string_view b) noexcept
{
    // Called on equal prefixes: names have no zero bytes, so a name of under
    // eight bytes equals the other one up to its own length.
    if (a.size() <= 8 || b.size() <= 8) {
        return a.size() < b.size();
    }
    return a.substr(8) < b.substr(8);
}

// Orders the keys by prefix: a radix sort, a byte per pass from the lowest,
// which skips the bytes that all prefixes share. A comparison sort of a large
// description's names is a visible part of its load; this is one counting
// pass for all bytes and one scattering pass per byte that differs.
void sort_by_prefix(std::vector<sort_key>& keys)
{
    if (keys.size() < 2) {
        return;
    }
    std::array<std::array<std::uint32_t, 256>, 8> counts{};
    for (const sort_key& k : keys) {
        for (unsigned byte = 0; byte < 8; ++byte) {
            ++counts[byte][(k.prefix >> (8 * byte)) & 0xFF];
        }
    }
    std::vector<sort_key> buffer(keys.size());
    for (unsigned byte = 0; byte < 8; ++byte) {
        const std::array<std::uint32_t, 256>& count = counts[byte];
        const unsigned shift = 8 * byte;
        if (count[(keys.front().prefix >> shift) & 0xFF] == keys.size()) {
            continue; // every prefix has the same byte here
        }
        std::array<std::size_t, 256> start;
        std::size_t at = 0;
        for (std::size_t digit = 0; digit < 256; ++digit) {
            start[digit] = at;
            at += count[digit];
        }
        for (const sort_key& k : keys) {
            buffer[start[(k.prefix >> shift) & 0xFF]++] = k;
        }
        keys.swap(buffer);
    }
}

} // namespace

name_key name_key::of(std::string_view name) noexcept
{
    std::uint64_t prefix = 0;
    if (name.size() >= 8) {
        std::memcpy(&prefix, name.data(), 8);
        prefix = __builtin_bswap64(prefix); // the host is little-endian (name_words.h)
    } else {
        for (std::size_t i = 0; i < name.size(); ++i) {
            prefix |= std::uint64_t{static_cast<unsigned char>(name[i])} << (56 - 8 * i);
        }
    }
    const name_words words = padded_words(name.data(), name.size());
    return {name, hash_name(name, words), prefix, words};
}

void node_name_index::sort_and_index(std::vector<INode*>& nodes, const std::vector<name_key>& keys,
                                      std::vector<std::uint32_t>& rank_of)
{
    std::vector<sort_key> keyed(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        keyed[i] = {keys[i].prefix, static_cast<std::uint32_t>(i)};
    }
    sort_by_prefix(keyed);
    // Names that share their first eight bytes lie together now, in short
    // runs; only those compare the rest of their names.
    for (std::size_t first = 0; first < keyed.size();) {
        std::size_t end = first + 1;
        while (end < keyed.size() && keyed[end].prefix == keyed[first].prefix) {
            ++end;
        }
        if (end - first > 1) {
            std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(first), keyed.begin() + static_cast<std::ptrdiff_t>(end),
                      [&](const sort_key& a, const sort_key& b) {
                          return name_less(keys[a.position].name, keys[b.position].name);
                      });
        }
        first = end;
    }
    rank_of.resize(keyed.size());
    for (std::size_t rank = 0; rank < keyed.size(); ++rank) {
        rank_of[keyed[rank].position] = static_cast<std::uint32_t>(rank);
    }
    // Each node, its name and its hash go to their place in name order: the
    // reads run through the keys in order and only the writes scatter, which
    // the processor need not wait for (a large description's keys are out of
    // cache by now).
    const std::vector<INode*> unsorted = nodes;
    words_.resize(keyed.size());
    names_.resize(keyed.size());
    std::vector<std::uint64_t> hashes(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        const std::uint32_t rank = rank_of[i];
        nodes[rank] = unsorted[i];
        words_[rank] = keys[i].words;
        names_[rank] = keys[i].name;
        hashes[rank] = keys[i].hash;
    }
    // At most half full, so probe sequences stay short.
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(2 * names_.size(), 16));
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    position_mask_ = static_cast<std::uint32_t>((std::uint64_t{1} << std::bit_width(names_.size())) - 1);
    for (std::size_t position = 0; position < names_.size(); ++position) {
        if (position > 0 && keyed[position].prefix == keyed[position - 1].prefix &&
            names_[position] == names_[position - 1]) {
            continue; // equal names lie together: the first one stays indexed
        }
        const std::uint64_t hash = hashes[position];
        std::size_t at = static_cast<std::size_t>(hash >> shift_);
        while (slots_[at] != 0) {
            at = (at + 1) & mask_;
        }
        slots_[at] = tag_of(hash) | static_cast<std::uint32_t>(position + 1);
    }
}

bool node_name_index::same_length_and_middle(std::size_t position, std::string_view name) const noexcept
{
    if (name.size() < 16) {
        // Equal padded words: equal names unless the one asked for holds
        // zero bytes, which no indexed name does.
        return padded_length(words_[position]) == name.size();
    }
    const std::string_view indexed = names_[position];
    return indexed.size() == name.size() && same_middle(indexed.data(), name.data(), name.size());
}

std::size_t node_name_index::find(std::string_view name) const noexcept
{
    if (slots_.empty()) {
        return npos;
    }
    const name_words words = padded_words(name.data(), name.size());
    const std::uint64_t hash = hash_name(name, words);
    const std::uint32_t tag = tag_of(hash);
    for (std::size_t at = static_cast<std::size_t>(hash >> shift_);; at = (at + 1) & mask_) {
        const std::uint32_t slot = slots_[at];
        if (slot == 0) {
            return npos;
        }
        if ((slot & ~position_mask_) == tag) {
            const std::size_t position = static_cast<std::size_t>(slot & position_mask_) - 1;
            if (words_[position] == words && same_length_and_middle(position, name)) {
                return position;
            }
        }
    }
}

} // namespace GenICam::impl
