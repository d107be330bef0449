#pragma once
// Base layer of nodes that hold a value or a register: they keep their own
// dependents list, which the build turns into its transitive closure, and
// drop every entry's cached state and fire its callbacks after a change.

#include "genicam/node_base_data.h"
#include "genicam/small_vector.h"

#include <cstddef>

namespace GenICam::impl {

class node_base_impl_value : public node_base_data {
public:
    using node_base_data::node_base_data;

    void add_dependent(INode& dependent) override;
    std::span<IEval* const> get_dependents() override { return {dependents.data(), dependents.size()}; }
    void expand_dependents() override;
    std::int32_t dependent_count() const override { return static_cast<std::int32_t>(dependents.size()); }

    // After a change of value: drop the cached state of every dependent, then
    // fire each dependent's callbacks in list order, then the node's own.
    void propagate_change();

    // Upper bound of dependents entries that expand_dependents may add on this
    // thread, summed over all nodes. A description whose dependency graph is
    // a long chain has a closure quadratic in its size; the document sets a
    // budget per build so that such input cannot exhaust time or memory.
    static void set_expansion_budget(std::size_t entries) noexcept { expansion_budget_ = entries; }

    small_vector<IEval*, 8> dependents;

protected:
    ~node_base_impl_value() = default;

private:
    static inline thread_local std::size_t expansion_budget_ = static_cast<std::size_t>(-1);
};

} // namespace GenICam::impl
