#pragma once
// The frame intervals offered for a range of average times per frame: the
// longest, then those of round frame rates inside the range, then the
// shortest. Platform-free.

#include <cstdint>
#include <vector>

namespace kyv_xu_props {

// Intervals in 100 ns units from `max_avg_time` down to `min_avg_time`. A
// bound of 0 or below gives an empty list (logged); min >= max gives [max].
// No interval appears twice.
std::vector<std::uint64_t> build_framerate_list_new(std::int64_t min_avg_time, std::int64_t max_avg_time);

} // namespace kyv_xu_props
