#pragma once
// The element-to-class table of the node factory. Each row names an element,
// the test on its children that selects the row, and the class it becomes.
// The first row whose element and test match wins; an element that matches
// no row builds nothing. A row whose class is not part of the engine (ops
// null) leaves its elements out, as an unknown element would be.

#include "genicam/alloc_itf.h"
#include "genicam/genicam_types.h"
#include "genicam/inode.h"
#include "genicam/node_base_data.h"


#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

namespace GenICam::impl {

// How the factory plans, builds and destroys objects of one node class.
struct node_class_ops {
    std::size_t size;
    // True when the class holds memory outside the arena: the factory then
    // registers a destroy record that runs the destructor.
    bool owns_heap_storage;
    // Announces arena memory that the constructor takes besides the object
    // itself (a Category's feature slots, an Enumeration's entries); may be null.
    void (*plan_extra)(const element_children& children, alloc_itf& alloc);
    INode* (*construct)(void* memory, const node_init& init);
    void (*destroy)(void* object);
};

// The ops of a node class T: T(const node_init&) builds it in arena memory;
// an optional `static void plan_extra(const element_children&, alloc_itf&)` announces
// what its constructor allocates from the arena besides the object.
template <class T>
constexpr node_class_ops make_node_class_ops() noexcept
{
    static_assert(alignof(T) <= 8, "arena objects are 8-aligned");
    void (*plan)(const element_children&, alloc_itf&) = nullptr;
    if constexpr (requires(const element_children& e, alloc_itf& a) { T::plan_extra(e, a); }) {
        plan = &T::plan_extra;
    }
    return {sizeof(T), !std::is_trivially_destructible_v<T>, plan,
            [](void* memory, const node_init& init) -> INode* { return &static_cast<INode&>(*new (memory) T(init)); },
            [](void* object) { std::destroy_at(static_cast<T*>(object)); }};
}

template <class T>
inline constexpr node_class_ops node_class_ops_of = make_node_class_ops<T>();

struct node_class_row {
    child_key element;
    // Test on the element's children; null: none.
    bool (*test)(const element_children& children);
    const char* class_name;
    // Null while the class is not part of the engine.
    const node_class_ops* ops;
    node_type kind;
    // The owns-heap-storage column, as the node-count report prints it.
    bool owns_heap_storage;
    // Register rows: every direct "IntSwissKnife" child becomes a node too.
    bool nested_swissknives;
};

std::span<const node_class_row> node_class_table() noexcept;

// The row that an element of this name and these children selects, or null.
const node_class_row* select_node_class(std::uint8_t element_key, const element_children& children);

// The row of the IntSwissKnife class (for nested address terms).
const node_class_row& int_swissknife_row() noexcept;

} // namespace GenICam::impl
