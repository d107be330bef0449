#pragma once
// The engine-internal face of a node: reference resolution while the document
// is built, and change propagation through dependents afterwards.

#include <pugixml.hpp>

#include <cstdint>
#include <span>
#include <string_view>

namespace GenICam {
class INode;
class IGenICamDoc;
} // namespace GenICam

namespace GenICam::impl {

class IEval {
public:
    // Binds every link of the node by name and registers the node as a
    // dependent of the nodes it reads. Run once per node after creation.
    virtual void resolve_references(IGenICamDoc& document) = 0;
    // The node's value may have changed: drop cached state, fire callbacks.
    virtual void invalidate() = 0;
    // The first half of invalidate alone: drop cached state, tell no one. A
    // change drops the state of every dependent before the first callback
    // runs, so that no callback reads another dependent's stale state.
    virtual void drop_cached_state() = 0;
    // The second half: fire the node's callbacks when any are registered.
    virtual void fire_own_callbacks() = 0;
    virtual void add_dependent(INode& dependent) = 0;
    virtual std::span<IEval* const> get_dependents() = 0;
    // Turns the dependents list into its transitive closure (value nodes).
    virtual void expand_dependents() = 0;
    virtual INode& get_inode() = 0;
    virtual std::string_view text() const = 0;
    // Size of the own dependents list; 0 for computed nodes, -1 for nodes
    // that take no dependents.
    virtual std::int32_t dependent_count() const = 0;
    // The class's own part of reference resolution.
    virtual void _resolve_references(IGenICamDoc& document, pugi::xml_node element) = 0;
    // The node whose access mode combines with this one, or none.
    virtual INode* access_mode_peer() = 0;

protected:
    ~IEval() = default;
};

} // namespace GenICam::impl
