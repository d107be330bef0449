#pragma once
// The child elements of one node element, read once, in document order, when
// the document is built. Nodes look their children up here by key: a scan of
// a few bytes instead of walking the XML tree and comparing names. Building
// and resolving a node reads its children many times, so this keeps most of
// a load's work off the XML tree.

#include "genicam/child_names.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string_view>
#include <vector>

namespace GenICam::impl {

// One direct child element: its text (pugixml's child_value), the element and
// the attribute that tells children of its kind apart: "Name" of pVariable,
// Constant, Expression and IntSwissKnife children, "Index" of ValueIndexed and
// pValueIndexed ones (empty for other kinds, or when absent). It is read with
// the rest, while the element is in cache.
struct child_element {
    std::string_view text;
    pugi::xml_node node;
    std::string_view key_attribute;
};

class element_children {
public:
    // Iterates the children of one key, in document order.
    class key_range {
    public:
        class iterator {
        public:
            const child_element& operator*() const noexcept { return owner_->entries_[at_]; }
            const child_element* operator->() const noexcept { return &owner_->entries_[at_]; }
            iterator& operator++() noexcept
            {
                at_ = owner_->next_of(key_, at_ + 1);
                return *this;
            }
            friend bool operator==(const iterator& a, const iterator& b) noexcept { return a.at_ == b.at_; }

        private:
            friend class key_range;
            iterator(const element_children* owner, std::uint8_t key, std::uint32_t at) noexcept
                : owner_(owner)
                , key_(key)
                , at_(at)
            {
            }
            const element_children* owner_;
            std::uint8_t key_;
            std::uint32_t at_;
        };

        iterator begin() const noexcept { return {owner_, key_, owner_->next_of(key_, 0)}; }
        iterator end() const noexcept { return {owner_, key_, owner_->size_}; }

    private:
        friend class element_children;
        key_range(const element_children* owner, std::uint8_t key) noexcept
            : owner_(owner)
            , key_(key)
        {
        }
        const element_children* owner_;
        std::uint8_t key_;
    };

    // An element without children.
    static const element_children& none() noexcept;

    // The element whose children these are, and its "Name" attribute.
    pugi::xml_node element() const noexcept { return element_; }
    std::string_view name() const noexcept { return name_; }

    // Text of the first child of the key; empty when there is none.
    std::string_view text(child_key key) const noexcept
    {
        const std::uint32_t at = next_of(key.index(), 0);
        return at < size_ ? entries_[at].text : std::string_view{};
    }
    bool has(child_key key) const noexcept { return next_of(key.index(), 0) < size_; }
    // The first child of the key; an empty node when there is none.
    pugi::xml_node first(child_key key) const noexcept
    {
        const std::uint32_t at = next_of(key.index(), 0);
        return at < size_ ? entries_[at].node : pugi::xml_node{};
    }
    std::size_t count(child_key key) const noexcept;
    key_range all(child_key key) const noexcept { return {this, key.index()}; }

    // Every child element in document order with its key (`unknown_child`
    // for names the engine does not read).
    std::size_t size() const noexcept { return size_; }
    const child_element& entry(std::size_t i) const noexcept { return entries_[i]; }
    std::uint8_t key_at(std::size_t i) const noexcept { return keys_[i]; }

    // The table of entry i's own children where it was read with this one
    // (the entries of an enumeration are: they become nodes with it); null
    // for other entries.
    const element_children* nested(std::size_t i) const noexcept { return nested_ != nullptr ? nested_[i] : nullptr; }

    // Asks for the table to be brought into cache, up to six lines.
    void prefetch() const noexcept
    {
        const auto* bytes = reinterpret_cast<const char*>(this);
        const std::size_t size = sizeof(element_children) + size_ * (sizeof(child_element) + 1);
        for (std::size_t at = 0; at < size && at < 6 * 64; at += 64) {
            __builtin_prefetch(bytes + at);
        }
    }

private:
    friend class element_children_store;
    element_children(pugi::xml_node element, std::string_view name, const std::uint8_t* keys,
                     const child_element* entries, const element_children* const* nested, std::uint32_t size,
                     std::uint64_t present) noexcept
        : element_(element)
        , name_(name)
        , keys_(keys)
        , entries_(entries)
        , nested_(nested)
        , size_(size)
        , present_(present)
    {
    }

    // Most lookups ask for a child the element does not have (a default
    // applies): a bit per key, folded to 64, tells most of those apart
    // without a scan.
    static std::uint64_t key_bit(std::uint8_t key) noexcept { return std::uint64_t{1} << (key & 63); }

    std::uint32_t next_of(std::uint8_t key, std::uint32_t from) const noexcept
    {
        if ((present_ & key_bit(key)) == 0) {
            return size_;
        }
        while (from < size_ && keys_[from] != key) {
            ++from;
        }
        return from;
    }

    pugi::xml_node element_;
    std::string_view name_;
    const std::uint8_t* keys_;
    const child_element* entries_;
    const element_children* const* nested_;
    std::uint32_t size_;
    std::uint64_t present_; // key_bit of every key held
};

// Builds and owns the child tables of one document. Tables never move, so
// nodes keep references to theirs for the document's lifetime.
class element_children_store {
public:
    element_children_store() = default;
    element_children_store(const element_children_store&) = delete;
    element_children_store& operator=(const element_children_store&) = delete;

    // Reads the direct child elements of `element` into a new table.
    // Raises std::bad_alloc when memory runs out.
    const element_children& build(pugi::xml_node element);

private:
    const element_children& build(pugi::xml_node element, bool with_nested);

    std::pmr::monotonic_buffer_resource memory_;
    std::vector<child_element> scratch_entries_;
    std::vector<std::uint8_t> scratch_keys_;
};

} // namespace GenICam::impl
