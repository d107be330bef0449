#pragma once
// Reading and writing any node as a number, whatever its family: the way
// conditions, pValue targets, Min/Max links, formula variables and address
// terms reach other nodes. Each call runs one family operation (two for an
// Enumeration) with the flags unchanged; errors pass through unchanged.
// Every call counts as one level of node-to-node evaluation: past the bound of
// eval_depth_guard (links that form a cycle) it answers 0x80008001.

#include "genicam/eval_number.h"
#include "genicam/genicam_types.h"
#include "genicam/inode.h"

#include <cstdint>

namespace GenICam::impl {

// The node's family interface, or null when the node does not implement it.
template <class Iface>
Iface* node_as(INode& node) noexcept
{
    return dynamic_cast<Iface*>(&node);
}

std::error_code set_eval_val(INode& node, eval_number value, std::uint32_t flags);
std::error_code set_eval_val(INode& node, double value, std::uint32_t flags);
std::error_code set_eval_val(INode& node, std::int64_t value, std::uint32_t flags);

// T is eval_number, std::int64_t or double.
template <class T>
result<T> get_eval_val(INode& node, std::uint32_t flags);
template <>
result<eval_number> get_eval_val<eval_number>(INode& node, std::uint32_t flags);
template <>
result<std::int64_t> get_eval_val<std::int64_t>(INode& node, std::uint32_t flags);
template <>
result<double> get_eval_val<double>(INode& node, std::uint32_t flags);

result<bool> get_eval_bool(INode& node, std::uint32_t flags);

// Range reads of Integer and Float nodes; other kinds answer 0x80008001
// without a message.
result<double> get_eval_min_float(INode& node, std::uint32_t flags);
result<std::int64_t> get_eval_min_int(INode& node, std::uint32_t flags);
result<double> get_eval_max_float(INode& node, std::uint32_t flags);
result<std::int64_t> get_eval_max_int(INode& node, std::uint32_t flags);
result<double> get_eval_inc_float(INode& node, std::uint32_t flags);
result<std::int64_t> get_eval_inc_int(INode& node, std::uint32_t flags);
result<double> get_eval_default_float(INode& node, std::uint32_t flags);
result<std::int64_t> get_eval_default_int(INode& node, std::uint32_t flags);

// An optional condition link read as a boolean: a Boolean node gives its
// value, any other node its integer value (nonzero is true). Without a link:
// true, respectively false.
result<bool> link_flag_default_true(INode* link, std::uint32_t flags);
result<bool> link_flag_default_false(INode* link, std::uint32_t flags);

} // namespace GenICam::impl
