// Formula compilation and evaluation, each beside a floor measured in the
// same run: compilation against the tokenizer's own pass over the text,
// evaluation against the same arithmetic written in C++ with its variables
// fetched through virtual calls.

#include "engine_bench_support.h"

#include "genicam/formula_evaluator.h"
#include "genicam/formula_parser.h"

#include <cmath>
#include <string_view>

namespace {

using namespace genicam::formula;

constexpr std::string_view int_formula = "(A + B * K) << 1";
constexpr std::string_view float_formula = "X * 2.5 + SQRT(X)";
constexpr std::string_view long_formula =
    "(A > 3) ? ((A * B + K) % 7 + (B << 2) - ABS(A - B)) : ((A | B) & 0xFF) + (A = B ? 1 : K * 2) - (B >= 10)";

class bench_names final : public formula_name_resolver {
public:
    std::optional<formula_symbol> find_identifier(std::string_view name) const override
    {
        if (name == "A" || name == "X")
            return formula_symbol::variable(first_variable_id);
        if (name == "B")
            return formula_symbol::variable(first_variable_id + 1);
        if (name == "K")
            return formula_symbol::value(formula_value::from_integer(3));
        return std::nullopt;
    }
};

class bench_values final : public formula_variable_table {
public:
    outcome::std_result<formula_value> get_value(std::int64_t id, formula_value, std::uint32_t) const override
    {
        if (id == first_variable_id)
            return is_integer ? formula_value::from_integer(5) : formula_value::from_double(2.25);
        return formula_value::from_integer(7);
    }
    bool is_integer = true;
};

// The floor: what the formula computes, with each variable one virtual call.
class plain_values {
public:
    virtual ~plain_values() = default;
    virtual std::int64_t integer(int id) const { return id == 0 ? 5 : 7; }
    virtual double real(int) const { return 2.25; }
};

const bench_names names;

void compile_against_tokenizer(benchmark::State& state, std::string_view text)
{
    genicam_bench::run_against_baseline(
        state, 64,
        [&] {
            compile_result r = compile_formula(text, names);
            benchmark::DoNotOptimize(r);
        },
        [&] {
            std::uint32_t tokens = count_program_tokens(text);
            benchmark::DoNotOptimize(tokens);
        });
    if (!compile_formula(text, names).succeeded())
        state.SkipWithError("formula does not compile");
}

void BM_formula_compile_short(benchmark::State& state)
{
    compile_against_tokenizer(state, int_formula);
}
BENCHMARK(BM_formula_compile_short)->UseManualTime();

void BM_formula_compile_long(benchmark::State& state)
{
    compile_against_tokenizer(state, long_formula);
}
BENCHMARK(BM_formula_compile_long)->UseManualTime();

void BM_formula_run_integer(benchmark::State& state)
{
    const compile_result compiled = compile_formula(int_formula, names);
    bench_values values;
    const plain_values plain_object;
    const plain_values* plain = &plain_object;
    benchmark::DoNotOptimize(plain);
    genicam_bench::run_against_baseline(
        state, 256,
        [&] {
            auto r = run_program(values, compiled.program, 0, formula_value::from_integer(0));
            benchmark::DoNotOptimize(r);
        },
        [&] {
            std::int64_t r = (plain->integer(0) + plain->integer(1) * 3) << 1;
            benchmark::DoNotOptimize(r);
        });
    const auto check = run_program(values, compiled.program, 0, formula_value::from_integer(0));
    if (!check || check.value().integer() != 52)
        state.SkipWithError("integer formula gives a wrong result");
}
BENCHMARK(BM_formula_run_integer)->UseManualTime();

void BM_formula_run_float(benchmark::State& state)
{
    const compile_result compiled = compile_formula(float_formula, names);
    bench_values values;
    values.is_integer = false;
    const plain_values plain_object;
    const plain_values* plain = &plain_object;
    benchmark::DoNotOptimize(plain);
    genicam_bench::run_against_baseline(
        state, 256,
        [&] {
            auto r = run_program(values, compiled.program, 0, formula_value::from_integer(0));
            benchmark::DoNotOptimize(r);
        },
        [&] {
            const double x = plain->real(0);
            double r = x * 2.5 + std::sqrt(x);
            benchmark::DoNotOptimize(r);
        });
    const auto check = run_program(values, compiled.program, 0, formula_value::from_integer(0));
    if (!check || to_double(check.value()) != 2.25 * 2.5 + 1.5)
        state.SkipWithError("float formula gives a wrong result");
}
BENCHMARK(BM_formula_run_float)->UseManualTime();

} // namespace
