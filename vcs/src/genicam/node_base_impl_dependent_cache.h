#pragma once
// Base layer of nodes whose value lives elsewhere or is computed: their
// dependents are kept by the document during the build only.

#include "genicam/node_base_data.h"

namespace GenICam::impl {

class node_base_impl_dependent_cache : public node_base_data {
public:
    using node_base_data::node_base_data;

    void add_dependent(INode& dependent) override
    {
        if (services->defer_add_dependent(*this, dependent)) {
            return;
        }
        IEval& eval = dependent.get_eval();
        if (&eval != this) {
            services->add_dependency(*this, eval);
        }
    }
    std::span<IEval* const> get_dependents() override { return services->get_dependencies(*this); }
    void expand_dependents() override {}
    std::int32_t dependent_count() const override { return 0; }

protected:
    ~node_base_impl_dependent_cache() = default;
};

} // namespace GenICam::impl
