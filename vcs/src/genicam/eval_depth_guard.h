#pragma once
// Bounds every node-to-node evaluation. A description whose links form a cycle
// (a pValue chain, access-mode peers, pIsAvailable conditions, address terms)
// would otherwise recurse until the stack ends, and links that are evaluated
// more than once per level (an index read for the access mode and again for
// the value) would cost time exponential in the chain's length.
//
// A guard counts one level of nesting and one step of the current outermost
// evaluation on this thread. Past max_depth levels or max_steps steps the
// evaluation is tripped: this guard and every guard made before the
// outermost one ends report false, and their callers answer an error (or NA
// for an access mode) at once instead of going deeper.

#include <cstdint>

namespace GenICam::impl {

class eval_depth_guard {
public:
    static constexpr int max_depth = 64;
    static constexpr std::uint32_t max_steps = 1u << 18;

    eval_depth_guard() noexcept
    {
        ++depth_;
        ++steps_;
        if (depth_ > max_depth || steps_ > max_steps) {
            tripped_ = true;
        }
        ok_ = !tripped_;
    }
    ~eval_depth_guard()
    {
        if (--depth_ == 0) {
            steps_ = 0;
            tripped_ = false;
        }
    }
    eval_depth_guard(const eval_depth_guard&) = delete;
    eval_depth_guard& operator=(const eval_depth_guard&) = delete;

    explicit operator bool() const noexcept { return ok_; }

private:
    static inline thread_local int depth_ = 0;
    static inline thread_local std::uint32_t steps_ = 0;
    static inline thread_local bool tripped_ = false;
    bool ok_;
};

} // namespace GenICam::impl
