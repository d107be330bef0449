#pragma once
// Where a register lies and how long it is. Registers whose description gives
// both as plain numbers keep them as constants; the others add the constant
// "Address" elements to the current values of other nodes (IntSwissKnife,
// pAddress and pIndex terms) on every access and evaluate "Length" or
// "pLength".

#include "genicam/genicam_types.h"
#include "genicam/inode.h"
#include "genicam/link_or_value.h"
#include "genicam/node_base_data.h"
#include "genicam/small_vector.h"


#include <cstdint>
#include <utility>

namespace GenICam {

namespace impl {

// The sum of the element's "Address" children; an unreadable one adds nothing
// and is logged with `self`'s names.
std::int64_t calc_address_nodes_sum(const element_children& element, const node_base_data& self);

struct register_const_address_eval {
    register_const_address_eval(const element_children& element, const node_base_data& self);

    std::int64_t address = 0;
    std::int64_t length = 0;
};

} // namespace impl

struct address_term {
    INode* index_node = nullptr;  // pIndex terms only
    INode* linked_node = nullptr; // IntSwissKnife and pAddress terms, or a pIndex term's pOffset
    std::int64_t offset = 0;      // a pIndex term's Offset
};

// The address and length of a register, as given by its XML element's children.
class address_eval {
public:
    // Resolves Length/pLength (4 when neither gives a length), then the terms.
    void resolve_references_len(const impl::element_children& element, impl::node_base_data& owner);
    // The constant and the terms; `owner` becomes a dependent of every node
    // that a term reads (not of the pIndex node itself).
    void resolve_references(const impl::element_children& element, impl::node_base_data& owner);

    result<std::int64_t> calc_address(std::int64_t length, std::uint32_t flags) const;
    // Absent: 0x80008001; a link: its integer value; a constant: itself.
    result<std::int64_t> evaluate_length(std::uint32_t flags) const;
    // The (address, length) pair of dynamic registers.
    result<std::pair<std::int64_t, std::int64_t>> address_and_length(std::uint32_t flags) const;

    std::int64_t constant = 0;
    impl::small_vector<address_term, 1> terms;
    impl::link_or_value<std::int64_t> length;
};

} // namespace GenICam
