#pragma once
// Bounds every node-to-node evaluation. A description whose links form a cycle
// (a pValue chain, access-mode peers, pIsAvailable conditions, address terms)
// would otherwise recurse until the stack ends; past max_depth nested
// evaluations on one thread the guard reports false and the caller answers an
// error (or NA for an access mode) instead of going deeper.

namespace GenICam::impl {

class eval_depth_guard {
public:
    static constexpr int max_depth = 64;

    eval_depth_guard() noexcept : ok_(++depth_ <= max_depth) {}
    ~eval_depth_guard() { --depth_; }
    eval_depth_guard(const eval_depth_guard&) = delete;
    eval_depth_guard& operator=(const eval_depth_guard&) = delete;

    explicit operator bool() const noexcept { return ok_; }

private:
    static inline thread_local int depth_ = 0;
    bool ok_;
};

} // namespace GenICam::impl
