#pragma once
// What every node shares: its XML element and its child elements, name, document, the three condition
// links (pIsImplemented, pIsAvailable, pIsLocked), the imposed access mode and
// whether callbacks are registered. Descriptive queries read the element on
// demand. The three node base layers derive from this class.

#include "genicam/alloc_itf.h"
#include "genicam/document_services.h"
#include "genicam/element_children.h"
#include "genicam/ieval.h"
#include "genicam/inode.h"

#include <pugixml.hpp>

#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace GenICam::impl {

// What a node constructor is given by the node factory.
struct node_init {
    const element_children* children = nullptr;
    document_services* services = nullptr;
    alloc_itf* alloc = nullptr;
    // Where a node reads the children of further elements (an Enumeration's
    // entries, a StructEntry's StructReg).
    element_children_store* store = nullptr;
};

class node_base_data : public IEval {
public:
    explicit node_base_data(const node_init& init);

    // IEval operations common to every class.
    void resolve_references(IGenICamDoc& document) override;
    // Drops the cached state, then fires the callbacks. Classes that cache
    // override drop_cached_state.
    void invalidate() final;
    void drop_cached_state() override {}
    std::string_view text() const override { return {}; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override {}
    INode* access_mode_peer() override { return nullptr; }

    // The common INode operations; implement_inode_base forwards to them.
    std::vector<extension_entry> read_extensions() const;
    std::string_view read_extension(std::string_view key) const;
    result<bool> read_is_implemented(std::uint32_t flags);
    result<bool> read_is_available(std::uint32_t flags);
    result<bool> read_is_locked(std::uint32_t flags);
    visibility getVisibility() const;
    std::string_view read_display_name() const;
    bool read_is_deprecated() const;
    bool read_streamable() const;
    // Own mode combined with the access-mode peer's (NA when the peers form a
    // cycle).
    access_mode effective_access_mode();
    std::error_code add_node_callback(const node_callback& callback);
    void remove_node_callbacks();
    std::optional<std::int64_t> read_event_id() const;
    name_space read_name_space() const;
    merge_priority read_merge_priority() const;
    std::optional<bool> read_expose_static() const;

    // The node named by the text of the first child `child_name`; none when
    // the text is empty (silently) or names no node (logged).
    INode* resolve_node(child_key key) const;
    // Every node named by a "pSelected" child, in document order.
    std::vector<INode*> resolve_node_list() const;
    // Narrows (never widens) the access mode to a register's "AccessMode".
    void set_actual_access_mode(access_mode mode);
    // Run at the start of every value read and write.
    std::error_code check_access(bool for_write, std::uint32_t flags);

    // Fires the node's own callbacks when any are registered.
    void fire_own_callbacks() final;

    const char* element_name() const noexcept { return element.name(); }
    // The name as a zero-terminated text, for log messages.
    const char* name_text() const noexcept { return name.empty() ? "" : name.data(); }
    // Text of the first child element of the key; empty when there is none.
    std::string_view child(child_key key) const noexcept { return children->text(key); }

    pugi::xml_node element;
    const element_children* children;
    std::string_view name;
    document_services* services;
    INode* is_implemented_node = nullptr;
    INode* is_available_node = nullptr;
    INode* is_locked_node = nullptr;
    access_mode access;
    bool has_callbacks = false;

protected:
    ~node_base_data() = default;
};

} // namespace GenICam::impl
