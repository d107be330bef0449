#pragma once
// The document's nodes in name order and a hash index over their names.
// Every link a description holds is resolved through find() while the
// document is built, so both the sort and the lookups are on the load path.

#include "genicam/inode.h"
#include "genicam/name_words.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace GenICam::impl {

// What the index needs of a name: its hash, its padded words (name_words.h)
// and its first eight bytes as a big-endian number (comparing two of these
// orders names as comparing their first eight bytes does). Computed while the name
// is read from the XML, so that sorting and indexing need not read the text
// again.
struct name_key {
    std::string_view name;
    std::uint64_t hash = 0;
    std::uint64_t prefix = 0;
    name_words words;

    static name_key of(std::string_view name) noexcept;
};

class node_name_index {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Sorts `nodes` by name (byte-wise over the shorter length, then the
    // shorter first; equal names in the order std::sort leaves them) and
    // indexes them; of equal names the first is the one found.
    // `keys[i]` is the key of the name of `nodes[i]`. `rank_of` receives, for
    // each position of the unsorted list, the position that its node takes
    // in name order.
    void sort_and_index(std::vector<INode*>& nodes, const std::vector<name_key>& keys,
                        std::vector<std::uint32_t>& rank_of);
    // Position in the indexed list of the first node of that name; npos for none.
    std::size_t find(std::string_view name) const noexcept;

private:
    // A slot holds a name's position + 1 in its low bits, as many as the
    // positions need, and in the bits above them a tag: the hash bits right
    // below those that chose the slot. 0 is empty. Four bytes a slot keep the
    // table of a large description small enough to stay in cache while its
    // links are resolved.
    std::uint32_t tag_of(std::uint64_t hash) const noexcept
    {
        return static_cast<std::uint32_t>(hash >> (shift_ - 32)) & ~position_mask_;
    }

    std::vector<std::uint32_t> slots_;
    // Whether the indexed name at `position`, whose words equal those of
    // `name`, is `name`.
    bool same_length_and_middle(std::size_t position, std::string_view name) const noexcept;

    // In name order: the names' padded words (name_words.h), which tell a
    // name of under sixteen bytes from any other without reading its text
    // (out of cache when links are resolved); sixteen bytes each, so that
    // the table of a large description stays in cache too. The names
    // themselves are read only for longer ones.
    std::vector<name_words> words_;
    std::vector<std::string_view> names_;
    std::size_t mask_ = 0;
    unsigned shift_ = 64; // the top bits of a hash that give its first slot
    std::uint32_t position_mask_ = 0;
};

} // namespace GenICam::impl
