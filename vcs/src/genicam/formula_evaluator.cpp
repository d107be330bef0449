#include "genicam/formula_evaluator.h"

#include "genicam/formula_inline_vector.h"
#include "genicam/genicam_error.h"

namespace genicam::formula {
namespace {

// Twenty values stay on the caller's stack; deeper programs spill to the heap.
using value_stack = inline_vector<formula_value, 20>;

constexpr const char* failed_variable = "Failed to look up variable name.";
constexpr const char* failed_unary = "Failed to get 1 parameter for unary function.";
constexpr const char* failed_binary = "Failed to get 2 parameters for binary function.";
constexpr const char* failed_select = "Failed to get 3 parameters for condition operator.";
constexpr const char* unbalanced = "Unbalanced calc stack.";
constexpr const char* undefined_result = "Operation has no defined result.";
constexpr const char* out_of_memory = "Out of memory for the calc stack.";

class table_source final : public formula_variable_source {
public:
    table_source(const formula_variable_table& table, formula_value input, std::uint32_t flags) noexcept
        : table_(table), input_(input), flags_(flags)
    {
    }
    outcome::std_result<formula_value> get_value(std::int64_t id) override
    {
        return table_.get_value(id, input_, flags_);
    }

private:
    const formula_variable_table& table_;
    formula_value input_;
    std::uint32_t flags_;
};

} // namespace

evaluation_result evaluate(const formula_program& program, formula_variable_source& variables) noexcept
{
    value_stack stack;
    evaluation_result result;
    for (const formula_instruction& i : program) {
        switch (i.kind) {
        case instruction_kind::push_integer:
            if (!stack.push_back(formula_value::from_integer(i.integer))) {
                return {out_of_memory, {}};
            }
            break;
        case instruction_kind::push_float:
            if (!stack.push_back(formula_value::from_double(i.real))) {
                return {out_of_memory, {}};
            }
            break;
        case instruction_kind::load_variable: {
            bool found = false;
            formula_value v;
            try {
                auto r = variables.get_value(i.integer);
                if (r) {
                    found = true;
                    v = r.value();
                }
            } catch (...) {
                found = false;
            }
            if (!found) {
                return {failed_variable, {}};
            }
            if (!stack.push_back(v)) {
                return {out_of_memory, {}};
            }
            break;
        }
        case instruction_kind::call_unary: {
            if (stack.empty()) {
                return {failed_unary, {}};
            }
            formula_value r;
            if (!i.unary(stack.back(), r)) {
                return {undefined_result, {}};
            }
            stack.back() = r;
            break;
        }
        case instruction_kind::call_binary: {
            if (stack.size() < 2) {
                return {failed_binary, {}};
            }
            const formula_value right = stack.back();
            stack.pop_back();
            formula_value r;
            if (!i.binary(stack.back(), right, r)) {
                return {undefined_result, {}};
            }
            stack.back() = r;
            break;
        }
        case instruction_kind::select: {
            if (stack.size() < 3) {
                return {failed_select, {}};
            }
            const formula_value if_false = stack.back();
            stack.pop_back();
            const formula_value if_true = stack.back();
            stack.pop_back();
            stack.back() = is_true(stack.back()) ? if_true : if_false;
            break;
        }
        }
    }
    if (stack.empty()) {
        return {unbalanced, {}};
    }
    result.value = stack.back();
    return result;
}

outcome::std_result<formula_value> run_program(const formula_variable_table& variables,
                                               const formula_program& program, std::uint32_t flags,
                                               formula_value input) noexcept
{
    if (program.empty()) {
        return GenICam::make_error_code(GenICam::errc::not_implemented);
    }
    table_source source(variables, input, flags);
    const evaluation_result r = evaluate(program, source);
    if (r.error) {
        return GenICam::make_error_code(GenICam::errc::formula_parse_failed);
    }
    return r.value;
}

} // namespace genicam::formula
