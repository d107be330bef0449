#include "genicam/element_children.h"

#include <algorithm>
#include <memory>
#include <new>

namespace GenICam::impl {

namespace {

// The attribute named in child_element's description, for a child's key.
const char* key_attribute_name(std::uint8_t key) noexcept
{
    static constexpr child_key named[] = {"pVariable", "Constant", "Expression", "IntSwissKnife"};
    static constexpr child_key indexed[] = {"ValueIndexed", "pValueIndexed"};
    for (const child_key k : named) {
        if (k.index() == key) {
            return "Name";
        }
    }
    for (const child_key k : indexed) {
        if (k.index() == key) {
            return "Index";
        }
    }
    return nullptr;
}

} // namespace

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
    // One walk over the children into reused scratch space, then one block:
    // the table, the entries, one key byte per entry.
    scratch_entries_.clear();
    scratch_keys_.clear();
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            const std::uint8_t key = classify_child_name(c.name());
            const char* attribute = key_attribute_name(key);
            scratch_entries_.push_back(
                {c.child_value(), c, attribute != nullptr ? c.attribute(attribute).value() : std::string_view{}});
            scratch_keys_.push_back(key);
        }
    }
    const std::size_t size = scratch_entries_.size();
    const std::size_t bytes = sizeof(element_children) + size * sizeof(child_element) + size;
    void* block = memory_.allocate(bytes, alignof(element_children));
    auto* entries = reinterpret_cast<child_element*>(static_cast<std::byte*>(block) + sizeof(element_children));
    auto* keys = reinterpret_cast<std::uint8_t*>(entries + size);
    std::uninitialized_copy(scratch_entries_.begin(), scratch_entries_.end(), entries);
    std::copy(scratch_keys_.begin(), scratch_keys_.end(), keys);
    static_assert(alignof(element_children) >= alignof(child_element));
    static_assert(sizeof(element_children) % alignof(child_element) == 0);
    return *new (block) element_children(element, element.attribute("Name").value(), keys, entries,
                                         static_cast<std::uint32_t>(size));
}

} // namespace GenICam::impl
