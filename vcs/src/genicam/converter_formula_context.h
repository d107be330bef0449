#pragma once
// The names a Converter or SwissKnife formula may use, while the node resolves
// its references: Constants, pVariables (with their .Min/.Max/.Inc/.Entry
// forms) and Expressions, first entry of a name winning. The context lives
// only during resolution; the bound getters stay with the node.

#include "genicam/formula_parser.h"
#include "genicam/formula_variables.h"
#include "genicam/node_base_data.h"


#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace GenICam::impl {

struct name_entry {
    std::string_view name;
    std::int64_t variable_id = 0; // 0: none
    const genicam::formula::formula_program* expression = nullptr;
    genicam::formula::formula_value constant;
};

class formula_context final : public genicam::formula::formula_name_resolver {
public:
    explicit formula_context(bool no_to_from_names) noexcept : no_to_from(no_to_from_names) {}

    std::optional<genicam::formula::formula_symbol> find_identifier(std::string_view name) const override;
    bool contains(std::string_view name) const noexcept;

    std::vector<name_entry> names;
    // Reserved to the Expression count before the first is compiled, so the
    // programs never move while name entries point at them.
    std::vector<genicam::formula::formula_program> expressions;
    // Set for SwissKnives: "TO" and "FROM" are ordinary names there.
    bool no_to_from;
};

namespace converter {

// Constants and ".Entry" pVariables, in document order.
void build_formula_name_lookup(formula_context& context, node_base_data& self, bool is_integer);

// Binds the other pVariables to getters (registering `self` as a dependent of
// each bound node), then compiles the Expressions in document order.
void bind_formula_variables(formula_context& context, formula_variables& variables, node_base_data& self);

} // namespace converter
} // namespace GenICam::impl
