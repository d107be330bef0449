#include "genicam/node_factory.h"

#include "genicam/node_class_table.h"
#include "genicam/number_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <new>

namespace GenICam::impl {

namespace {

constexpr std::size_t prefetch_distance = 4;

bool usable(const node_class_row* row)
{
    return row != nullptr && row->ops != nullptr;
}

bool hidden_by_extension(pugi::xml_node extension)
{
    if (!extension) {
        return false;
    }
    const parsed_integer flag = parse_integer_text(extension.child("VCDIsDebugProperty").child_value());
    return flag.ok() && flag.value != 0;
}

// Calls `build(row, children)` for every element under `root` that becomes a
// node, in document order: the element itself unless hidden, then, for
// register rows, each of its direct IntSwissKnife children that is not hidden.
template <class Build>
void for_each_node_element(pugi::xml_node root, element_children_store& store, bool include_debug, Build&& build)
{
    const node_class_row& knife = int_swissknife_row();
    walk_node_elements(root, [&](pugi::xml_node element, std::uint8_t key) {
        if (key == unknown_child) {
            return;
        }
        const element_children& children = store.build(element);
        const node_class_row* row = select_node_class(key, children);
        if (row == nullptr) {
            return;
        }
        if (usable(row) && !is_hidden_debug_property(children, include_debug)) {
            build(*row, children);
        }
        if (row->nested_swissknives && usable(&knife)) {
            for (const child_element& nested : children.all("IntSwissKnife")) {
                const element_children& nested_children = store.build(nested.node);
                if (!is_hidden_debug_property(nested_children, include_debug)) {
                    build(knife, nested_children);
                }
            }
        }
    });
}

} // namespace

bool is_hidden_debug_property(pugi::xml_node element, bool include_debug_properties)
{
    return !include_debug_properties && hidden_by_extension(element.child("Extension"));
}

bool is_hidden_debug_property(const element_children& children, bool include_debug_properties)
{
    return !include_debug_properties && hidden_by_extension(children.first("Extension"));
}

std::size_t node_factory::plan(pugi::xml_node root)
{
    planned_.clear();
    for_each_node_element(root, store_, include_debug_, [&](const node_class_row& row, const element_children& children) {
        if (row.ops->plan_extra != nullptr) {
            row.ops->plan_extra(children, allocator_);
        }
        allocator_.reserve(row.ops->size, 1, 8, row.ops->owns_heap_storage);
        planned_.push_back({&children, row.ops, name_key::of(children.name())});
    });
    return planned_.size();
}

void node_factory::create(std::vector<INode*>& nodes, std::vector<name_key>& names)
{
    names.reserve(names.size() + planned_.size());
    for (std::size_t i = 0; i < planned_.size(); ++i) {
        // The tables were written while planning and are out of cache now;
        // a node's constructor starts by scanning its table's keys.
        if (i + prefetch_distance < planned_.size()) {
            planned_[i + prefetch_distance].children->prefetch();
        }
        const planned_node& planned = planned_[i];
        const node_class_ops& ops = *planned.ops;
        void* memory = allocator_.allocate(ops.size);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        INode* node = ops.construct(memory, node_init{planned.children, &services_, &allocator_, &store_});
        if (ops.owns_heap_storage) {
            allocator_.register_destroy({ops.destroy, memory});
        }
        nodes.push_back(node);
        names.push_back(planned.name);
    }
    planned_.clear();
    planned_.shrink_to_fit();
}

std::string node_factory::count_report(pugi::xml_node root, bool include_debug_properties)
{
    struct type_record {
        std::uint32_t count = 0;
        std::uint32_t size = 0;
        bool owns_heap_storage = false;
    };
    std::map<std::string, type_record> types;
    std::map<std::string, std::uint32_t> elements;
    for (const node_class_row& row : node_class_table()) {
        types[row.class_name] = {0, row.ops != nullptr ? static_cast<std::uint32_t>(row.ops->size) : 0u,
                                 row.owns_heap_storage};
    }
    element_children_store store;
    for_each_node_element(root, store, include_debug_properties,
                          [&](const node_class_row& row, const element_children&) {
                              ++types[row.class_name].count;
                              ++elements[std::string(row.element.name())];
                          });

    std::string out;
    auto sink = std::back_inserter(out);
    fmt::format_to(sink, "doc {:29} cnt\n", "type");
    for (const auto& [name, count] : elements) {
        fmt::format_to(sink, "    {:32} {:3}\n", name, count);
    }
    fmt::format_to(sink, "stats {:32} {:4} {:8} {:5}\n", "Release", "cnt", "size", "dtor");
    std::uint64_t total_count = 0;
    std::uint64_t total_bytes = 0;
    std::uint64_t owning = 0;
    for (const auto& [name, record] : types) {
        fmt::format_to(sink, "      {:32} {:4} {:8} {:5}\n", name, record.count, record.size,
                       record.owns_heap_storage);
        total_count += record.count;
        total_bytes += std::uint64_t{record.count} * record.size;
        owning += record.owns_heap_storage ? record.count : 0;
    }
    fmt::format_to(sink, "sum   {:32} {:4} {:8} {:5}\n", "", total_count, total_bytes, owning);
    return out;
}

} // namespace GenICam::impl
