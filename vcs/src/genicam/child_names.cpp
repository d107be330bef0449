#include "genicam/child_names.h"


namespace GenICam::impl {

namespace {

constexpr std::size_t slot_count = 512; // a power of two, well over the names

// Every description element name passes through here, so the hash reads only
// the length and three characters; the full comparison settles the match.
constexpr std::uint32_t hash_of(std::string_view name) noexcept
{
    if (name.empty()) {
        return 0;
    }
    const auto at = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])); };
    std::uint32_t h = static_cast<std::uint32_t>(name.size()) * 0x9e3779b1u;
    h ^= at(0) * 0x85ebca77u;
    h ^= at(name.size() / 2) * 0xc2b2ae3du;
    h ^= at(name.size() - 1) * 0x27d4eb2fu;
    return h ^ (h >> 15);
}

// Open addressing with linear probing; a slot holds a name's index + 1, 0 when empty.
constexpr std::array<std::uint8_t, slot_count> make_slots() noexcept
{
    std::array<std::uint8_t, slot_count> slots{};
    for (std::size_t i = 0; i < known_child_names.size(); ++i) {
        std::size_t at = hash_of(known_child_names[i]) & (slot_count - 1);
        while (slots[at] != 0) {
            at = (at + 1) & (slot_count - 1);
        }
        slots[at] = static_cast<std::uint8_t>(i + 1);
    }
    return slots;
}

constexpr std::array<std::uint8_t, slot_count> slots = make_slots();

static_assert(known_child_names.size() < unknown_child, "an index must fit below the unknown marker");

// The longest probe sequence of a known name: no lookup needs more.
constexpr std::size_t longest_probe() noexcept
{
    std::size_t longest = 0;
    for (const std::string_view name : known_child_names) {
        std::size_t probes = 1;
        for (std::size_t at = hash_of(name) & (slot_count - 1); known_child_names[slots[at] - 1u] != name;
             at = (at + 1) & (slot_count - 1)) {
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
    // Names are short: plain loops beat the library calls' set-up here, and
    // this runs for every element of a description.
    std::size_t length = 0;
    while (name[length] != '\0') {
        ++length;
    }
    const std::uint32_t hash = hash_of({name, length});
    for (std::size_t at = hash & (slot_count - 1);; at = (at + 1) & (slot_count - 1)) {
        const std::uint8_t slot = slots[at];
        if (slot == 0) {
            return unknown_child;
        }
        const std::string_view known = known_child_names[slot - 1u];
        if (known.size() != length) {
            continue;
        }
        std::size_t i = 0;
        while (i < length && known[i] == name[i]) {
            ++i;
        }
        if (i == length) {
            return static_cast<std::uint8_t>(slot - 1u);
        }
    }
}

} // namespace GenICam::impl
