// Compiles and runs arbitrary formula texts against a small variable set:
// integer, double, NaN and failing variables, an Expression and a constant.

#include "genicam/formula_evaluator.h"
#include "genicam/formula_parser.h"
#include "genicam/genicam_error.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using namespace genicam::formula;

class fuzz_names final : public formula_name_resolver {
public:
    fuzz_names()
    {
        twice_.push_back(formula_instruction::load(1000));
        twice_.push_back(formula_instruction::load(1000));
    }
    std::optional<formula_symbol> find_identifier(std::string_view name) const override
    {
        if (name == "TO" || name == "FROM") {
            return formula_symbol::variable(to_from_id);
        }
        if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'd') {
            return formula_symbol::variable(first_variable_id + (name[0] - 'a'));
        }
        if (name == "K") {
            return formula_symbol::value(formula_value::from_integer(-9223372036854775807 - 1));
        }
        if (name == "X") {
            return formula_symbol::expand(twice_);
        }
        return std::nullopt;
    }

private:
    formula_program twice_;
};

class fuzz_values final : public formula_variable_table {
public:
    outcome::std_result<formula_value> get_value(std::int64_t id, formula_value input, std::uint32_t) const override
    {
        switch (id) {
        case to_from_id:
            return input;
        case first_variable_id:
            return formula_value::from_integer(-1);
        case first_variable_id + 1:
            return formula_value::from_double(2.5);
        case first_variable_id + 2:
            return formula_value::from_double(std::nan(""));
        default:
            return GenICam::make_error_code(GenICam::errc::not_implemented);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz_names names;
    static const fuzz_values values;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const compile_result c = compile_formula(text, names);
    if (c.succeeded()) {
        (void)run_program(values, c.program, 0, formula_value::from_integer(0x7fffffffffffffff));
        (void)run_program(values, c.program, 0, formula_value::from_double(-0.0));
    }
    return 0;
}
