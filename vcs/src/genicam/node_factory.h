#pragma once
// Turns the elements of a parsed description into node objects. One walk in
// document order reads every node element's children, selects its class
// (node_class_table) and announces its arena memory; creation then builds the
// planned nodes in the same order. The node-count report walks the same way.
// All of them skip the same hidden debug properties, so creation never needs
// more than planning announced.

#include "genicam/document_allocator.h"
#include "genicam/document_services.h"
#include "genicam/element_children.h"
#include "genicam/inode.h"
#include "genicam/node_name_index.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace GenICam::impl {

// Calls `handler(element, key)` with every element under `parent` that is
// neither "Group" nor "StructReg", descending into those two at any depth;
// `key` is the element name's classification (classify_child_name).
// Iterative, so nesting depth costs no stack.
template <class Handler>
void walk_node_elements(pugi::xml_node parent, Handler&& handler)
{
    constexpr child_key group = "Group";
    constexpr child_key struct_reg = "StructReg";
    pugi::xml_node current = parent.first_child();
    while (current) {
        if (current.type() == pugi::node_element) {
            const std::uint8_t key = classify_child_name(current.name());
            if (key == group.index() || key == struct_reg.index()) {
                if (pugi::xml_node inner = current.first_child()) {
                    current = inner;
                    continue;
                }
            } else {
                handler(current, key);
            }
        }
        while (current && !current.next_sibling()) {
            current = current.parent();
            if (current == parent) {
                return;
            }
        }
        if (current) {
            current = current.next_sibling();
        }
    }
}

// True when the element's Extension carries a "VCDIsDebugProperty" whose
// integer text is nonzero and debug properties are not wanted.
bool is_hidden_debug_property(pugi::xml_node element, bool include_debug_properties);
bool is_hidden_debug_property(const element_children& children, bool include_debug_properties);

struct node_class_ops;

class node_factory {
public:
    node_factory(document_services& services, document_allocator& allocator, element_children_store& store,
                 bool include_debug_properties) noexcept
        : services_(services)
        , allocator_(allocator)
        , store_(store)
        , include_debug_(include_debug_properties)
    {
    }

    // Planning walk: reads the children of every node element into the
    // store, selects each one's class and announces its memory; returns the
    // node count.
    std::size_t plan(pugi::xml_node root);
    // Builds every planned node into the prepared arena, in document order,
    // and appends it to `nodes` and its name's key to `names`. Raises
    // std::bad_alloc when the arena refuses.
    void create(std::vector<INode*>& nodes, std::vector<name_key>& names);

    // The node-count report of the elements under `root`.
    static std::string count_report(pugi::xml_node root, bool include_debug_properties);

private:
    struct planned_node {
        const element_children* children;
        const node_class_ops* ops;
        // Taken while the name is in cache: sorting then need not read it.
        name_key name;
    };

    document_services& services_;
    document_allocator& allocator_;
    element_children_store& store_;
    bool include_debug_;
    std::vector<planned_node> planned_;
};

} // namespace GenICam::impl
