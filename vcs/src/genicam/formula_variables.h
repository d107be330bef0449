#pragma once
// The run-time side of a formula node's variables: one getter per bound
// pVariable, serving the variable id 1000 + its row. Id 512 is the input
// value of the evaluation (the converter's "TO"/"FROM").

#include "genicam/formula_evaluator.h"
#include "genicam/formula_inline_vector.h"
#include "genicam/genicam_types.h"
#include "genicam/inode.h"

#include <cstdint>

namespace GenICam::impl {

// Reads one variable from its node with the request's flags.
using variable_read = result<genicam::formula::formula_value> (*)(INode& node, std::uint32_t flags);

struct variable_getter {
    INode* node = nullptr;
    variable_read read = nullptr;
};

// The node's value through the value access of its family.
result<genicam::formula::formula_value> read_variable_value(INode& node, std::uint32_t flags);
// Min, Max or Inc of an Integer (as integers) or Float node (as doubles).
result<genicam::formula::formula_value> read_integer_min(INode& node, std::uint32_t flags);
result<genicam::formula::formula_value> read_integer_max(INode& node, std::uint32_t flags);
result<genicam::formula::formula_value> read_integer_inc(INode& node, std::uint32_t flags);
result<genicam::formula::formula_value> read_float_min(INode& node, std::uint32_t flags);
result<genicam::formula::formula_value> read_float_max(INode& node, std::uint32_t flags);
result<genicam::formula::formula_value> read_float_inc(INode& node, std::uint32_t flags);

class formula_variables final : public genicam::formula::formula_variable_table {
public:
    // Three variables stay inside the node.
    genicam::formula::inline_vector<variable_getter, 3> getters;
    // Integer nodes see every variable as an integer, float nodes as a double.
    bool is_integer = false;

    genicam::formula::outcome::std_result<genicam::formula::formula_value>
    get_value(std::int64_t id, genicam::formula::formula_value input, std::uint32_t flags) const override;
};

} // namespace GenICam::impl
