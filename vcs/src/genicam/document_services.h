#pragma once
// What nodes ask of their document: change callbacks, lookup by name and,
// during the build only, the dependents of nodes that keep none themselves.

#include "genicam/inode.h"

#include <span>
#include <string_view>

namespace GenICam::impl {

class IEval;

class document_services {
public:
    virtual void add_callback(INode& node, const node_callback& callback) = 0;
    // Destroys every callback of the node.
    virtual void remove_callbacks(INode& node) = 0;
    // Calls the node's callbacks in registration order. Callbacks registered
    // or removed by a running callback take effect from the next firing.
    virtual void fire_callbacks(INode& node) = 0;
    virtual INode* find_node(std::string_view name) = 0;
    // Appends `dependent` to the node's entry unless already there; a failed
    // allocation silently drops it.
    virtual void add_dependency(IEval& node, IEval& dependent) = 0;
    // While the document resolves its nodes out of name order, records that
    // `dependent` is to be added to `node` and returns true; the document adds
    // the recorded dependents afterwards, in the order name-ordered resolving
    // would have added them. False otherwise: the caller adds it now.
    virtual bool defer_add_dependent(IEval& node, INode& dependent) = 0;
    virtual std::span<IEval* const> get_dependencies(IEval& node) = 0;

protected:
    ~document_services() = default;
};

} // namespace GenICam::impl
