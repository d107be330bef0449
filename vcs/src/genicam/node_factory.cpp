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

bool usable(const node_class_row* row)
{
    return row != nullptr && row->ops != nullptr;
}

template <class F>
void for_each_nested_swissknife(pugi::xml_node element, F&& f)
{
    for (pugi::xml_node child : element.children("IntSwissKnife")) {
        f(child);
    }
}

} // namespace

bool is_hidden_debug_property(pugi::xml_node element, bool include_debug_properties)
{
    if (include_debug_properties) {
        return false;
    }
    const parsed_integer flag =
        parse_integer_text(element.child("Extension").child("VCDIsDebugProperty").child_value());
    return flag.ok() && flag.value != 0;
}

std::size_t node_factory::plan(pugi::xml_node root)
{
    std::size_t count = 0;
    const node_class_row& knife = int_swissknife_row();
    walk_node_elements(root, [&](pugi::xml_node element) {
        const node_class_row* row = select_node_class(element);
        if (row == nullptr) {
            return;
        }
        if (usable(row) && !is_hidden_debug_property(element, include_debug_)) {
            if (row->ops->plan_extra != nullptr) {
                row->ops->plan_extra(element, allocator_);
            }
            allocator_.reserve(row->ops->size, 1, 8, row->ops->owns_heap_storage);
            ++count;
        }
        if (row->nested_swissknives && usable(&knife)) {
            for_each_nested_swissknife(element, [&](pugi::xml_node nested) {
                if (!is_hidden_debug_property(nested, include_debug_)) {
                    allocator_.reserve(knife.ops->size, 1, 8, knife.ops->owns_heap_storage);
                    ++count;
                }
            });
        }
    });
    return count;
}

void node_factory::create(pugi::xml_node root, std::vector<INode*>& nodes)
{
    const node_class_row& knife = int_swissknife_row();
    const auto build = [&](const node_class_ops& ops, pugi::xml_node element) {
        void* memory = allocator_.allocate(ops.size);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        INode* node = ops.construct(memory, node_init{element, &services_, &allocator_});
        if (ops.owns_heap_storage) {
            allocator_.register_destroy({ops.destroy, memory});
        }
        nodes.push_back(node);
    };
    walk_node_elements(root, [&](pugi::xml_node element) {
        const node_class_row* row = select_node_class(element);
        if (row == nullptr) {
            return;
        }
        if (usable(row) && !is_hidden_debug_property(element, include_debug_)) {
            build(*row->ops, element);
        }
        if (row->nested_swissknives && usable(&knife)) {
            for_each_nested_swissknife(element, [&](pugi::xml_node nested) {
                if (!is_hidden_debug_property(nested, include_debug_)) {
                    build(*knife.ops, nested);
                }
            });
        }
    });
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
    const node_class_row& knife = int_swissknife_row();
    walk_node_elements(root, [&](pugi::xml_node element) {
        const node_class_row* row = select_node_class(element);
        if (row == nullptr) {
            return;
        }
        if (usable(row) && !is_hidden_debug_property(element, include_debug_properties)) {
            ++types[row->class_name].count;
            ++elements[element.name()];
        }
        if (row->nested_swissknives && usable(&knife)) {
            for_each_nested_swissknife(element, [&](pugi::xml_node nested) {
                if (!is_hidden_debug_property(nested, include_debug_properties)) {
                    ++types[knife.class_name].count;
                    ++elements[knife.element];
                }
            });
        }
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

void sort_nodes_by_name(std::vector<INode*>& nodes)
{
    // Sorted as (name, node) pairs: every comparison then reads two names
    // from one array instead of calling into two node objects.
    std::vector<std::pair<std::string_view, INode*>> keyed;
    keyed.reserve(nodes.size());
    for (INode* node : nodes) {
        keyed.emplace_back(node->get_name(), node);
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        nodes[i] = keyed[i].second;
    }
}

} // namespace GenICam::impl
