#pragma once
// A value given either as a literal element (Min, Max, Inc, Default,
// CommandValue, ...) or as a link to another node (pMin, pMax, ...). T is
// std::int64_t for integer-valued nodes and double for float-valued ones.

#include "genicam/child_names.h"
#include "genicam/genicam_types.h"
#include "genicam/inode.h"

#include <cstdint>

namespace GenICam::impl {

class node_base_data;

enum class link_kind : std::uint8_t { absent = 0, link = 1, literal = 2 };

template <class T>
struct link_or_value {
    link_kind kind = link_kind::absent;
    INode* node = nullptr;
    T literal{};

    bool present() const noexcept { return kind != link_kind::absent; }
    // A literal, or the linked node's value read as T; call only when present.
    result<T> evaluate(std::uint32_t flags) const;
};

// Reads the pair (literal child, link child) of `self`'s element. The link
// wins when both are given (with a message). A link adds `self` as a
// dependent of the linked node.
template <class T>
link_or_value<T> resolve_link_or_value_(node_base_data& self, child_key literal, child_key link);

// Reads the texts of "Default"/"pDefault" (under the node's element, or its
// Extension element) the same way, with its own messages.
template <class T>
link_or_value<T> resolve_link_or_value_from_contents(node_base_data& self, std::string_view default_text,
                                                     std::string_view p_default_text);

extern template struct link_or_value<std::int64_t>;
extern template struct link_or_value<double>;
extern template link_or_value<std::int64_t> resolve_link_or_value_<std::int64_t>(node_base_data&, child_key,
                                                                                   child_key);
extern template link_or_value<double> resolve_link_or_value_<double>(node_base_data&, child_key, child_key);
extern template link_or_value<std::int64_t> resolve_link_or_value_from_contents<std::int64_t>(node_base_data&,
                                                                                               std::string_view,
                                                                                               std::string_view);
extern template link_or_value<double> resolve_link_or_value_from_contents<double>(node_base_data&, std::string_view,
                                                                                  std::string_view);

} // namespace GenICam::impl
