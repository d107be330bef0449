#include "genicam/child_names.h"

#include <cstring>

namespace GenICam::impl {

namespace {

constexpr std::size_t slot_count = 256; // a power of two, over twice the names

constexpr std::uint32_t hash_step(std::uint32_t hash, char c) noexcept
{
    return (hash ^ static_cast<unsigned char>(c)) * 16777619u;
}

constexpr std::uint32_t hash_of(std::string_view name) noexcept
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash = hash_step(hash, c);
    }
    return hash;
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

} // namespace

std::uint8_t classify_child_name(const char* name) noexcept
{
    std::uint32_t hash = 2166136261u;
    std::size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        hash = hash_step(hash, name[length]);
    }
    for (std::size_t at = hash & (slot_count - 1);; at = (at + 1) & (slot_count - 1)) {
        const std::uint8_t slot = slots[at];
        if (slot == 0) {
            return unknown_child;
        }
        const std::string_view known = known_child_names[slot - 1u];
        if (known.size() == length && std::memcmp(known.data(), name, length) == 0) {
            return static_cast<std::uint8_t>(slot - 1u);
        }
    }
}

} // namespace GenICam::impl
