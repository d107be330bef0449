#include "genicam/element_children.h"

#include "genicam/name_words.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <new>

namespace GenICam::impl {

namespace {

// The attribute named in child_element's description, by key.
constexpr std::array<const char*, 256> make_key_attributes() noexcept
{
    std::array<const char*, 256> names{};
    for (const child_key k : {child_key("pVariable"), child_key("Constant"), child_key("Expression"),
                              child_key("IntSwissKnife")}) {
        names[k.index()] = "Name";
    }
    for (const child_key k : {child_key("ValueIndexed"), child_key("pValueIndexed")}) {
        names[k.index()] = "Index";
    }
    return names;
}

constexpr std::array<const char*, 256> key_attribute_names = make_key_attributes();

} // namespace

const element_children& element_children::none() noexcept
{
    static const element_children empty({}, {}, nullptr, nullptr, nullptr, 0, 0);
    return empty;
}

std::size_t element_children::count(child_key key) const noexcept
{
    if ((present_ & key_bit(key.index())) == 0) {
        return 0;
    }
    std::size_t n = 0;
    for (std::uint32_t i = 0; i < size_; ++i) {
        n += keys_[i] == key.index() ? 1 : 0;
    }
    return n;
}

const element_children& element_children_store::build(pugi::xml_node element)
{
    return build(element, true);
}

const element_children& element_children_store::build(pugi::xml_node element, bool with_nested)
{
    // One walk over the children into reused scratch space, then one block:
    // the table, one key byte per entry, the entries and, where children are
    // read with it, a pointer per entry to their tables.
    constexpr child_key nested_key = "EnumEntry";
    scratch_entries_.clear();
    scratch_keys_.clear();
    bool has_nested = false;
    std::uint64_t present = 0;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            const std::uint8_t key = classify_child_name(c.name());
            const char* attribute = key_attribute_names[key];
            scratch_entries_.push_back({terminated_view(c.child_value()), c,
                                        attribute != nullptr ? terminated_view(c.attribute(attribute).value())
                                                             : std::string_view{}});
            scratch_keys_.push_back(key);
            present |= element_children::key_bit(key);
            has_nested = has_nested || (with_nested && key == nested_key.index());
        }
    }
    // The keys follow the table's head, so that the first lookup, which
    // scans them, reads one or two cache lines.
    const std::size_t size = scratch_entries_.size();
    const std::size_t keys_bytes = (size + alignof(child_element) - 1) / alignof(child_element) * alignof(child_element);
    const std::size_t nested_bytes = has_nested ? size * sizeof(const element_children*) : 0;
    const std::size_t bytes = sizeof(element_children) + keys_bytes + size * sizeof(child_element) + nested_bytes;
    void* block = memory_.allocate(bytes, alignof(element_children));
    auto* keys = reinterpret_cast<std::uint8_t*>(static_cast<std::byte*>(block) + sizeof(element_children));
    auto* entries = reinterpret_cast<child_element*>(keys + keys_bytes);
    auto* nested = has_nested ? reinterpret_cast<const element_children**>(entries + size) : nullptr;
    std::copy(scratch_keys_.begin(), scratch_keys_.end(), keys);
    std::uninitialized_copy(scratch_entries_.begin(), scratch_entries_.end(), entries);
    static_assert(alignof(child_element) >= alignof(const element_children*));
    static_assert(alignof(element_children) >= alignof(child_element));
    static_assert(sizeof(element_children) % alignof(child_element) == 0);
    const std::string_view name = terminated_view(element.attribute("Name").value());
    const element_children& table =
        *new (block) element_children(element, name, keys, entries, nested, static_cast<std::uint32_t>(size), present);
    // Nested tables are read now, right after their parent, while their
    // elements are in cache; the scratch space is free again. One level
    // only: what lies deeper is read when asked for, and a description
    // cannot make this recurse.
    if (nested != nullptr) {
        for (std::size_t i = 0; i < size; ++i) {
            nested[i] = keys[i] == nested_key.index() ? &build(entries[i].node, false) : nullptr;
        }
    }
    return table;
}

} // namespace GenICam::impl
