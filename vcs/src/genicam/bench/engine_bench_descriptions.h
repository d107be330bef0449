#pragma once
// GenApi descriptions for the engine benchmarks, generated so that their
// size is the only thing that changes between runs.

#include <cstddef>
#include <string>

namespace genicam_bench {

// A description of about `features` features in blocks of sixteen: selectors
// with pIndex rows, integers with literals, links and availability links,
// registers in three cache modes, floats, float registers, enumerations,
// booleans, commands, strings, IntSwissKnife and SwissKnife formulas and a
// converter, each block under its own category and every category under
// "Root". With unresolved set, every block also names nodes that do not
// exist, so the engine logs while it loads.
std::string make_description(std::size_t features, bool unresolved = false);

// Features per generated block.
constexpr std::size_t features_per_block = 16;

} // namespace genicam_bench
