#pragma once
// The stack machine that runs compiled formulas.

#include "genicam/formula_program.h"
#include "genicam/formula_value.h"

#include <boost/outcome.hpp>

#include <cstdint>
#include <system_error>

namespace genicam::formula {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// Where load-variable instructions get their values from during one evaluation.
class formula_variable_source {
public:
    virtual outcome::std_result<formula_value> get_value(std::int64_t id) = 0;

protected:
    ~formula_variable_source() = default;
};

// The variables of a node: the value of each id for a given input value (the
// converter's "TO"/"FROM") and request flags.
class formula_variable_table {
public:
    virtual outcome::std_result<formula_value> get_value(std::int64_t id, formula_value input,
                                                         std::uint32_t flags) const = 0;

protected:
    ~formula_variable_table() = default;
};

struct evaluation_result {
    const char* error = nullptr; // none on success
    formula_value value;
};

evaluation_result evaluate(const formula_program& program, formula_variable_source& variables) noexcept;

// Runs a node's program: an empty program is 0x80008001 (no formula was
// compiled), a failed evaluation 0x80000103. The value comes back as the
// program computed it, integer or double.
outcome::std_result<formula_value> run_program(const formula_variable_table& variables,
                                               const formula_program& program, std::uint32_t flags,
                                               formula_value input) noexcept;

} // namespace genicam::formula
