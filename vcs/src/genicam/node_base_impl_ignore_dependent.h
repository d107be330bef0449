#pragma once
// Base layer of nodes that take no dependents (Category, EnumEntry, Port).

#include "genicam/node_base_data.h"

namespace GenICam::impl {

class node_base_impl_ignore_dependent : public node_base_data {
public:
    using node_base_data::node_base_data;

    void add_dependent(INode&) override {}
    std::span<IEval* const> get_dependents() override { return {}; }
    void expand_dependents() override {}
    std::int32_t dependent_count() const override { return -1; }

protected:
    ~node_base_impl_ignore_dependent() = default;
};

} // namespace GenICam::impl
