#pragma once
// A loaded GenApi description with every node built from it. Owners destroy
// it through this interface; nodes must not be used after their document.

#include "genicam/inode.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace GenICam {

class IPort;

class IGenICamDoc {
public:
    virtual ~IGenICamDoc() = default;
    // The Port node of that name; an empty name means "Device".
    virtual IPort* find_port(std::string_view name) = 0;
    // Exact, case-sensitive lookup; an empty name finds nothing.
    virtual INode* find_node(std::string_view name) = 0;
    // Visits every node in name order. The visitor is copied first.
    virtual void for_each_node(std::function<void(INode&)> visitor) = 0;
    virtual void for_each_streamable_node(std::function<void(INode&)> visitor) = 0;
    virtual std::string_view model_name() = 0;
    virtual std::string_view vendor_name() = 0;
    virtual std::string_view tool_tip() = 0;
    // "None" 0, "IIDC" 1, "GEV" 2, "CL" 3, "U3V" 4, "CXP" 5, "CLHS" 6.
    virtual std::uint32_t standard_name_space() = 0;
    virtual std::uint32_t major_version() = 0;
    virtual std::uint32_t minor_version() = 0;
    virtual std::uint32_t sub_minor_version() = 0;
    virtual std::vector<INode*> streamable_nodes() = 0;
    // Kind 0: node-class and element counts; kind 1: one line per node with
    // its dependent count; any other kind: empty.
    virtual std::string dump(int kind) = 0;
    // The nodes of the name-order list in the order their elements stand in
    // the document: the order in which a document's values are saved and
    // restored, so that a node written first in the description is set first.
    virtual std::vector<INode*> nodes_in_document_order() = 0;

    // The node list: a copy of every node reference, in name order.
    std::vector<INode*> nodes()
    {
        std::vector<INode*> list;
        for_each_node([&list](INode& node) { list.push_back(&node); });
        return list;
    }
};

} // namespace GenICam
