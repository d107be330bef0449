#include "genicam/node_base_impl_value.h"

#include "genicam/genicam_log.h"

#include <unordered_set>

namespace GenICam::impl {

void node_base_impl_value::add_dependent(INode& dependent)
{
    if (services->defer_add_dependent(*this, dependent)) {
        return;
    }
    IEval* eval = &dependent.get_eval();
    if (eval != this) {
        dependents.push_back_unique(eval);
    }
}

void node_base_impl_value::expand_dependents()
{
    // Most nodes have no dependents whose own dependents reach further: the
    // set of listed entries is made only when the closure grows.
    std::unordered_set<IEval*> listed;
    for (std::uint32_t i = 0; i < dependents.size(); ++i) {
        IEval* entry = dependents[i];
        if (entry == this) {
            continue;
        }
        const std::span<IEval* const> further = entry->get_dependents();
        if (further.empty()) {
            continue;
        }
        if (listed.empty()) {
            listed.insert(dependents.begin(), dependents.end());
        }
        dependents.reserve(dependents.size() + static_cast<std::uint32_t>(further.size()));
        for (IEval* candidate : further) {
            if (candidate == this || listed.count(candidate) != 0) {
                continue;
            }
            if (expansion_budget_ == 0) {
                GENICAM_LOG(1, "%s, %s (\"%s\"). Dependency graph too large, dependents left out.\n",
                            "GenICam::impl::node_base_impl_value::expand_dependents", element_name(), name_text());
                return;
            }
            if (dependents.push_back(candidate)) {
                listed.insert(candidate);
                --expansion_budget_;
            }
        }
    }
}

void node_base_impl_value::propagate_change()
{
    for (IEval* dependent : dependents) {
        dependent->invalidate();
    }
    fire_own_callbacks();
}

} // namespace GenICam::impl
