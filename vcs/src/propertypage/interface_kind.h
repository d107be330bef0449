#pragma once
// How a page shows one facet of an item, and the id that names the facet to
// the item's data object. Numbered so that a higher kind is the richer
// control: a page that may choose takes the highest one the item supports.

#include <cstdint>

enum class interface_kind : std::int32_t {
    switch_ = 0,
    range = 1,
    button = 2,
    map_strings = 3,
    absolute_value = 4,
};

// Passed unchanged to the item-data operations; for GenICam items it is the
// feature's node handle.
using interface_id = std::uint64_t;
