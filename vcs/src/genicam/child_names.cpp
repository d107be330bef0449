#include "genicam/child_names.h"

#include "genicam/name_words.h"

#include <cstring>

namespace GenICam::impl {

namespace {

constexpr unsigned slot_bits = 9;
constexpr std::size_t slot_count = std::size_t{1} << slot_bits; // well over the names

// Every element of a description passes through here.
constexpr std::size_t first_slot(const name_words& w, std::size_t length) noexcept
{
    return static_cast<std::size_t>(hash_words(w, length) >> (64 - slot_bits));
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
        const name_words words = padded_words(name.data(), name.size());
        std::size_t at = first_slot(words, name.size());
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
        for (std::size_t at = first_slot(padded_words(name.data(), name.size()), name.size()); slots[at].index != i;
             at = (at + 1) & (slot_count - 1)) {
            ++probes;
        }
        longest = probes > longest ? probes : longest;
    }
    return longest;
}

static_assert(longest_probe() <= 3, "the name hash clusters: change its constants");

// Names the single load does not read: measured and read byte by byte. Kept
// out of line, so that the common case needs no saved registers.
[[gnu::noinline]] std::uint8_t classify_long_name(const char* name) noexcept
{
    const std::size_t length = std::strlen(name);
    const name_words words = padded_words(name, length);
    for (std::size_t at = first_slot(words, length);; at = (at + 1) & (slot_count - 1)) {
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

} // namespace

std::uint8_t classify_child_name(const char* name) noexcept
{
    short_text read;
    if (!read_short_text(name, read)) {
        return classify_long_name(name);
    }
    // Under sixteen bytes: the words and the length are the whole name.
    for (std::size_t at = first_slot(read.padded, read.length);; at = (at + 1) & (slot_count - 1)) {
        const known_name& slot = slots[at];
        if (slot.index == unknown_child) {
            return unknown_child;
        }
        if (slot.length == read.length && slot.words == read.padded) {
            return slot.index;
        }
    }
}

} // namespace GenICam::impl
