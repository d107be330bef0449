#pragma once
// One loaded GenApi description with every node built from it: a private copy
// of the XML text, the parsed tree, the node arena, the nodes sorted by name,
// the streamable nodes and the change callbacks.
//
// Lifecycle: construct empty, load_xml once, use (one thread at a time),
// destroy through IGenICamDoc.

#include "genicam/document_allocator.h"
#include "genicam/document_services.h"
#include "genicam/element_children.h"
#include "genicam/igenicam_doc.h"
#include "genicam/node_name_index.h"
#include "genicam/small_vector.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace GenICam::impl {

class IEval;

struct load_options {
    // Set by every caller; carries no further meaning.
    bool first = true;
    // When false, elements marked as debug properties build no node.
    bool include_debug_properties = false;
};

class genicam_doc final : public IGenICamDoc, public document_services {
public:
    genicam_doc();
    ~genicam_doc() override;
    genicam_doc(const genicam_doc&) = delete;
    genicam_doc& operator=(const genicam_doc&) = delete;

    // Copies `length` bytes (no terminating zero needed), parses them and
    // builds every node. False on malformed XML (logged) and when the document
    // is loaded already: its nodes point into the first tree, so a second
    // load is refused.
    bool load_xml(const void* text, std::size_t length, load_options options = {});
    // The same with the two option bytes (first, include debug properties).
    bool load_xml(const void* text, std::size_t length, std::uint8_t first, std::uint8_t include_debug_properties)
    {
        return load_xml(text, length, load_options{first != 0, include_debug_properties != 0});
    }

    // IGenICamDoc
    IPort* find_port(std::string_view name) override;
    INode* find_node(std::string_view name) override;
    void for_each_node(std::function<void(INode&)> visitor) override;
    void for_each_streamable_node(std::function<void(INode&)> visitor) override;
    std::string_view model_name() override;
    std::string_view vendor_name() override;
    std::string_view tool_tip() override;
    std::uint32_t standard_name_space() override;
    std::uint32_t major_version() override;
    std::uint32_t minor_version() override;
    std::uint32_t sub_minor_version() override;
    std::vector<INode*> streamable_nodes() override;
    std::string dump(int kind) override;
    std::vector<INode*> nodes_in_document_order() override;

    // document_services
    void add_callback(INode& node, const node_callback& callback) override;
    void remove_callbacks(INode& node) override;
    void fire_callbacks(INode& node) override;
    void add_dependency(IEval& node, IEval& dependent) override;
    bool defer_add_dependent(IEval& node, INode& dependent) override;
    std::span<IEval* const> get_dependencies(IEval& node) override;

    bool is_hidden_debug_property(pugi::xml_node element) const;
    void dump_node_counts(std::string& out);
    const load_options& options() const noexcept { return load_options_; }

private:
    void build_nodes();
    void resolve_references(const std::vector<INode*>& in_document_order, const std::vector<std::uint32_t>& rank_of);
    pugi::xml_node root() const;
    std::uint32_t version_attribute(const char* name) const;
    // Position in nodes_ of the first node named `name`; nodes_.size() for none.
    std::size_t first_named(std::string_view name) const;

    // Declared in this order so that destruction runs: dependency map,
    // callbacks, allocator (destroy records, then the arena), child tables,
    // tree, text.
    std::vector<INode*> nodes_;
    // The same nodes as the factory made them, in document order.
    std::vector<INode*> document_order_;
    // Each name's first position in nodes_: lookups by name take constant
    // time, so resolving a document's links stays linear in its size.
    node_name_index by_name_;
    std::vector<INode*> streamable_nodes_;
    std::vector<char> xml_text_;
    load_options load_options_;
    bool loaded_ = false;
    pugi::xml_document xml_;
    element_children_store children_store_;
    document_allocator allocator_;
    std::unordered_map<INode*, std::vector<node_callback>> callbacks_;
    std::unordered_map<IEval*, small_vector<IEval*, 4>> dependency_map_;

    // Dependents added while nodes are resolved, with the name-order place
    // of the node being resolved (see resolve_references).
    struct deferred_dependent {
        std::uint32_t rank;
        IEval* node;
        INode* dependent;
    };
    std::vector<deferred_dependent> deferred_dependents_;
    std::uint32_t resolving_rank_ = 0;
    bool deferring_dependents_ = false;
};

} // namespace GenICam::impl
