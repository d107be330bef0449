#include "properties/kyv_xu_framerate_list.h"

#include <cmath>

#include "gen_utils/log.h"

namespace kyv_xu_props {

namespace {
constexpr std::int64_t second = 10000000; // 100 ns units

// The next frame rate of the walk: single steps below 10, then 10-18 in
// steps of 2, 20-45 in 5, 50-90 in 10, 100-240 in 20, from 250 in 50.
std::int64_t next_rate(std::int64_t f) noexcept
{
    if (f < 10) {
        return f + 1;
    }
    if (f < 20) {
        return f + 2;
    }
    if (f < 50) {
        return f + 5;
    }
    if (f < 100) {
        return f + 10;
    }
    if (f < 250) {
        return f + 20 > 240 ? 250 : f + 20;
    }
    return f + 50;
}
} // namespace

std::vector<std::uint64_t> build_framerate_list_new(std::int64_t min_avg_time, std::int64_t max_avg_time)
{
    if (min_avg_time <= 0 || max_avg_time <= 0) {
        log_line(logging::level_error,
                 "[CamTovra] Invalid avg time passed to build_framerate_list_new, min_avg_time={}, max_avg_time={}.\n",
                 min_avg_time, max_avg_time);
        return {};
    }
    const auto a = static_cast<std::uint64_t>(min_avg_time);
    const auto b = static_cast<std::uint64_t>(max_avg_time);
    if (a >= b) {
        return {b};
    }
    const float fmax = static_cast<float>(second) / static_cast<float>(min_avg_time);
    const float fmin = static_cast<float>(second) / static_cast<float>(max_avg_time);
    std::vector<std::uint64_t> list{b};
    // Below 10 the walk starts at the first whole rate of the range; from 10
    // on it follows the fixed steps.
    std::int64_t f = static_cast<std::int64_t>(std::ceil(fmin));
    if (f < 1) {
        f = 1;
    }
    if (f >= 10) {
        f = 10;
    }
    for (; static_cast<float>(f) < fmax; f = next_rate(f)) {
        // Above a few thousand frames a second neighbouring rates truncate
        // to the same interval: it is offered once.
        const auto interval = static_cast<std::uint64_t>(second / f);
        if (static_cast<float>(f) > fmin && interval != list.back()) {
            list.push_back(interval);
        }
    }
    if (list.back() != a) {
        list.push_back(a);
    }
    return list;
}

} // namespace kyv_xu_props
