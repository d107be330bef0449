#include "genicam/formula_functions.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace genicam::formula {
namespace {

using u64 = std::uint64_t;

formula_value int_value(std::int64_t v) noexcept { return formula_value::from_integer(v); }
formula_value real_value(double v) noexcept { return formula_value::from_double(v); }
formula_value bool_value(bool v) noexcept { return int_value(v ? 1 : 0); }

// Integer "+", "-", "*" wrap around: computed on unsigned 64-bit values,
// where wrapping is defined.
bool add(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = a.is_integer && b.is_integer ? int_value(static_cast<std::int64_t>(a.payload + b.payload))
                                     : real_value(to_double(a) + to_double(b));
    return true;
}

bool subtract(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = a.is_integer && b.is_integer ? int_value(static_cast<std::int64_t>(a.payload - b.payload))
                                     : real_value(to_double(a) - to_double(b));
    return true;
}

bool multiply(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = a.is_integer && b.is_integer ? int_value(static_cast<std::int64_t>(a.payload * b.payload))
                                     : real_value(to_double(a) * to_double(b));
    return true;
}

// An integer quotient or remainder has no value for a zero divisor or for
// INT64_MIN by -1: the evaluation fails instead of faulting.
bool integer_division_defined(std::int64_t dividend, std::int64_t divisor) noexcept
{
    return divisor != 0 && !(dividend == int64_min && divisor == -1);
}

bool divide(formula_value a, formula_value b, formula_value& r) noexcept
{
    if (a.is_integer && b.is_integer) {
        if (!integer_division_defined(a.integer(), b.integer())) {
            return false;
        }
        r = int_value(a.integer() / b.integer());
    } else {
        r = real_value(to_double(a) / to_double(b));
    }
    return true;
}

bool remainder(formula_value a, formula_value b, formula_value& r) noexcept
{
    const std::int64_t x = to_integer(a);
    const std::int64_t y = to_integer(b);
    if (!integer_division_defined(x, y)) {
        return false;
    }
    r = int_value(x % y);
    return true;
}

bool power(formula_value a, formula_value b, formula_value& r) noexcept
{
    const double p = std::pow(to_double(a), to_double(b));
    r = a.is_integer && b.is_integer ? int_value(checked_double_to_int64(std::trunc(p))) : real_value(p);
    return true;
}

// Two integers compare as integers; otherwise as doubles, where every
// comparison with NaN is false except "<>".
template <typename Compare>
formula_value compare(formula_value a, formula_value b, Compare cmp) noexcept
{
    if (a.is_integer && b.is_integer) {
        return bool_value(cmp(a.integer(), b.integer()));
    }
    return bool_value(cmp(to_double(a), to_double(b)));
}

bool greater(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x > y; });
    return true;
}
bool greater_equal(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x >= y; });
    return true;
}
bool less(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x < y; });
    return true;
}
bool less_equal(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x <= y; });
    return true;
}
bool equal(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x == y; });
    return true;
}
bool not_equal(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = compare(a, b, [](auto x, auto y) { return x != y; });
    return true;
}

// Both operands are always evaluated: there is no short cut.
bool logical_and(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = bool_value(is_true(a) && is_true(b));
    return true;
}
bool logical_or(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = bool_value(is_true(a) || is_true(b));
    return true;
}

bool bit_and(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = int_value(to_integer(a) & to_integer(b));
    return true;
}
bool bit_or(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = int_value(to_integer(a) | to_integer(b));
    return true;
}
bool bit_xor(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = int_value(to_integer(a) ^ to_integer(b));
    return true;
}

// Shift counts are taken modulo 64; ">>" copies the sign in.
bool shift_right(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = int_value(to_integer(a) >> (to_integer(b) & 63));
    return true;
}
bool shift_left(formula_value a, formula_value b, formula_value& r) noexcept
{
    r = int_value(static_cast<std::int64_t>(static_cast<u64>(to_integer(a)) << (to_integer(b) & 63)));
    return true;
}

bool negate(formula_value a, formula_value& r) noexcept
{
    r = a.is_integer ? int_value(static_cast<std::int64_t>(0 - a.payload)) : real_value(-a.real());
    return true;
}

bool complement(formula_value a, formula_value& r) noexcept
{
    r = int_value(~to_integer(a));
    return true;
}

template <double (*F)(double)>
bool real_function(formula_value a, formula_value& r) noexcept
{
    r = real_value(F(to_double(a)));
    return true;
}

double atan_of(double x) noexcept { return std::atan(x); }
double cos_of(double x) noexcept { return std::cos(x); }
double sin_of(double x) noexcept { return std::sin(x); }
double tan_of(double x) noexcept { return std::tan(x); }
double abs_of(double x) noexcept { return std::fabs(x); }
double exp_of(double x) noexcept { return std::exp(x); }
double ln_of(double x) noexcept { return std::log(x); }
double lg_of(double x) noexcept { return std::log10(x); }
double sqrt_of(double x) noexcept { return std::sqrt(x); }
double floor_of(double x) noexcept { return std::floor(x); }
double ceil_of(double x) noexcept { return std::ceil(x); }
double asin_of(double x) noexcept { return std::asin(x); }
double acos_of(double x) noexcept { return std::acos(x); }
// Through a 64-bit integer and back, so values outside its range (and NaN)
// give -9223372036854775808.0.
double trunc_of(double x) noexcept { return static_cast<double>(checked_double_to_int64(std::trunc(x))); }

bool sign_of(formula_value a, formula_value& r) noexcept
{
    if (a.is_integer) {
        const std::int64_t v = a.integer();
        r = int_value(v < 0 ? -1 : (v > 0 ? 1 : 0));
    } else {
        const double v = a.real();
        // 0.0 and -0.0 stay as they are; NaN counts as positive.
        r = v == 0.0 ? a : real_value(v < 0.0 ? -1.0 : 1.0);
    }
    return true;
}

// Powers up to 10^22 are exact doubles; build them by multiplication rather
// than trusting every runtime's pow to be exact.
double power_of_ten(std::int64_t n) noexcept
{
    if (n > 22) {
        return std::pow(10.0, static_cast<double>(n));
    }
    double p = 1.0;
    for (std::int64_t i = 0; i < n; ++i) {
        p *= 10.0;
    }
    return p;
}

bool round_to(formula_value x, formula_value digits, formula_value& r) noexcept
{
    const double v = to_double(x);
    const std::int64_t n = to_integer(digits);
    if (n == 0) {
        r = real_value(std::round(v));
    } else if (n > 0) {
        const double p = power_of_ten(n);
        r = real_value(std::round(v * p) / p);
    } else {
        // Negative digits divide by the exact positive power, so that
        // ROUND(1250, -2) is 1300 whatever the runtime's pow makes of 10^-2.
        const double p = power_of_ten(n == int64_min ? std::numeric_limits<std::int64_t>::max() : -n);
        r = real_value(std::round(v / p) * p);
    }
    return true;
}

struct operator_row {
    std::uint32_t code;
    binary_evaluator evaluator;
};

constexpr operator_row operator_table[] = {
    {tk_plus, add},
    {tk_minus, subtract},
    {tk_multiply, multiply},
    {tk_divide, divide},
    {tk_remainder, remainder},
    {tk_power, power},
    {tk_greater, greater},
    {tk_greater_equal, greater_equal},
    {tk_less, less},
    {tk_less_equal, less_equal},
    {tk_equal, equal},
    {tk_not_equal, not_equal},
    {tk_logical_and, logical_and},
    {tk_logical_or, logical_or},
    {tk_bit_and, bit_and},
    {tk_bit_or, bit_or},
    {tk_bit_xor, bit_xor},
    {tk_shift_right, shift_right},
    {tk_shift_left, shift_left},
};

struct function_row {
    std::string_view name;
    unary_evaluator evaluator;
};

// Upper-case and lower-case spellings are the same function; mixed case is none.
constexpr function_row unary_functions[] = {
    {"ATAN", real_function<atan_of>},   {"COS", real_function<cos_of>},     {"SIN", real_function<sin_of>},
    {"TAN", real_function<tan_of>},     {"ABS", real_function<abs_of>},     {"EXP", real_function<exp_of>},
    {"LN", real_function<ln_of>},       {"LG", real_function<lg_of>},       {"SQRT", real_function<sqrt_of>},
    {"TRUNC", real_function<trunc_of>}, {"FLOOR", real_function<floor_of>}, {"CEIL", real_function<ceil_of>},
    {"ASIN", real_function<asin_of>},   {"ACOS", real_function<acos_of>},   {"SGN", sign_of},
    {"NEG", negate},
    {"atan", real_function<atan_of>},   {"cos", real_function<cos_of>},     {"sin", real_function<sin_of>},
    {"tan", real_function<tan_of>},     {"abs", real_function<abs_of>},     {"exp", real_function<exp_of>},
    {"ln", real_function<ln_of>},       {"lg", real_function<lg_of>},       {"sqrt", real_function<sqrt_of>},
    {"trunc", real_function<trunc_of>}, {"floor", real_function<floor_of>}, {"ceil", real_function<ceil_of>},
    {"asin", real_function<asin_of>},   {"acos", real_function<acos_of>},   {"sgn", sign_of},
    {"neg", negate},
};

} // namespace

formula_instruction lookup_operator(std::uint32_t code) noexcept
{
    if (code == tk_complement) {
        return formula_instruction::call(&complement);
    }
    if (code == tk_negate) {
        return formula_instruction::call(&negate);
    }
    for (const auto& row : operator_table) {
        if (row.code == code) {
            return formula_instruction::call(row.evaluator);
        }
    }
    return formula_instruction{};
}

unary_evaluator find_unary_function(std::string_view name) noexcept
{
    for (const auto& row : unary_functions) {
        if (row.name == name) {
            return row.evaluator;
        }
    }
    return nullptr;
}

binary_evaluator find_binary_function(std::string_view name) noexcept
{
    return name == "ROUND" ? &round_to : nullptr;
}

} // namespace genicam::formula
