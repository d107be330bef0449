#include "genicam/child_names.h"

#include "genicam/name_words.h"

namespace GenICam::impl {

namespace {

constexpr std::size_t slot_count = 512; // a power of two, well over the names

// Every element of a description passes through here: the name's words give
// the hash and settle the comparison (name_words.h).
constexpr std::uint32_t hash_of(const name_words& w, std::size_t length) noexcept
{
    std::uint64_t h = (w.first ^ (w.last * 0x9e3779b97f4a7c15ull) ^ length) * 0xbf58476d1ce4e5b9ull;
    return static_cast<std::uint32_t>(h >> 32);
}

struct known_name {
    name_words words;
    std::uint32_t length = 0;
    std::uint8_t index = unknown_child;
};

// Open addressing with linear probing; an empty slot has index unknown_child.
constexpr std::array<known_name, slot_count> make_slots() noexcept
{
    std::array<known_name, slot_count> slots{};
    for (std::size_t i = 0; i < known_child_names.size(); ++i) {
        const std::string_view name = known_child_names[i];
        const name_words words = words_of(name.data(), name.size());
        std::size_t at = hash_of(words, name.size()) & (slot_count - 1);
        while (slots[at].index != unknown_child) {
            at = (at + 1) & (slot_count - 1);
        }
        slots[at] = {words, static_cast<std::uint32_t>(name.size()), static_cast<std::uint8_t>(i)};
    }
    return slots;
}

constexpr std::array<known_name, slot_count> slots = make_slots();

static_assert(known_child_names.size() < unknown_child, "an index must fit below the unknown marker");

// The longest probe sequence of a known name: no lookup needs more.
constexpr std::size_t longest_probe() noexcept
{
    std::size_t longest = 0;
    for (std::size_t i = 0; i < known_child_names.size(); ++i) {
        const std::string_view name = known_child_names[i];
        std::size_t probes = 1;
        for (std::size_t at = hash_of(words_of(name.data(), name.size()), name.size()) & (slot_count - 1);
             slots[at].index != i; at = (at + 1) & (slot_count - 1)) {
            ++probes;
        }
        longest = probes > longest ? probes : longest;
    }
    return longest;
}

static_assert(longest_probe() <= 3, "the name hash clusters: change its constants");

} // namespace

std::uint8_t classify_child_name(const char* name) noexcept
{
    const std::size_t length = terminated_length(name);
    const name_words words = words_of(name, length);
    for (std::size_t at = hash_of(words, length) & (slot_count - 1);; at = (at + 1) & (slot_count - 1)) {
        const known_name& slot = slots[at];
        if (slot.index == unknown_child) {
            return unknown_child;
        }
        if (slot.length == length && slot.words == words &&
            same_middle(known_child_names[slot.index].data(), name, length)) {
            return slot.index;
        }
    }
}

} // namespace GenICam::impl
