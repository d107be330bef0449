#include "genicam/element_children.h"

#include <new>

namespace GenICam::impl {

const element_children& element_children::none() noexcept
{
    static const element_children empty({}, {}, nullptr, nullptr, 0);
    return empty;
}

std::size_t element_children::count(child_key key) const noexcept
{
    std::size_t n = 0;
    for (std::uint32_t i = 0; i < size_; ++i) {
        n += keys_[i] == key.index() ? 1 : 0;
    }
    return n;
}

const element_children& element_children_store::build(pugi::xml_node element)
{
    std::uint32_t size = 0;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        size += c.type() == pugi::node_element ? 1 : 0;
    }
    // One block: the table, then the entries, then one key byte per entry.
    const std::size_t bytes = sizeof(element_children) + size * sizeof(child_element) + size;
    void* block = memory_.allocate(bytes, alignof(element_children));
    auto* entries = reinterpret_cast<child_element*>(static_cast<std::byte*>(block) + sizeof(element_children));
    auto* keys = reinterpret_cast<std::uint8_t*>(entries + size);
    std::uint32_t i = 0;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            new (entries + i) child_element{c.child_value(), c};
            keys[i] = classify_child_name(c.name());
            ++i;
        }
    }
    static_assert(alignof(element_children) >= alignof(child_element));
    static_assert(sizeof(element_children) % alignof(child_element) == 0);
    return *new (block) element_children(element, element.attribute("Name").value(), keys, entries, size);
}

} // namespace GenICam::impl
