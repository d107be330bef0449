// The formula language end to end: tokens, parse levels, compiled programs,
// parse failures and what every operator computes.

#include "genicam/formula_evaluator.h"
#include "genicam/formula_functions.h"
#include "genicam/formula_parser.h"
#include "genicam/formula_tokenizer.h"
#include "genicam/genicam_error.h"
#include "genicam/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

using namespace genicam::formula;

// Names a, b, c (variables 1000-1002), K (integer constant 10), X (an
// Expression "a*2") and "TO".
class test_names final : public formula_name_resolver {
public:
    test_names()
    {
        expression_.push_back(formula_instruction::load(1000));
        expression_.push_back(formula_instruction::push(formula_value::from_integer(2)));
        expression_.push_back(lookup_operator(tk_multiply));
    }
    std::optional<formula_symbol> find_identifier(std::string_view name) const override
    {
        if (name == "a" || name == "PI" || name == "E") {
            return formula_symbol::variable(1000);
        }
        if (name == "b") {
            return formula_symbol::variable(1001);
        }
        if (name == "c") {
            return formula_symbol::variable(1002);
        }
        if (name == "K") {
            return formula_symbol::value(formula_value::from_integer(10));
        }
        if (name == "X") {
            return formula_symbol::expand(expression_);
        }
        if (name == "TO") {
            return formula_symbol::variable(to_from_id);
        }
        return std::nullopt;
    }

private:
    formula_program expression_;
};

class test_values final : public formula_variable_table {
public:
    std::map<std::int64_t, formula_value> values;
    outcome::std_result<formula_value> get_value(std::int64_t id, formula_value input, std::uint32_t) const override
    {
        if (id == to_from_id) {
            return input;
        }
        const auto it = values.find(id);
        if (it == values.end()) {
            return GenICam::make_error_code(GenICam::errc::formula_parse_failed);
        }
        return it->second;
    }
};

// A program as text: "push 1, push 2.5, load 1000, call *, call SIN, select".
std::string dump(const formula_program& program)
{
    static const char* const operator_names[] = {"~",  "neg", "+", "-",  "*",  "/",  "%", "**", ">", ">=", "<",
                                                 "<=", "=",   "<>", "&&", "||", "&", "|", "^",  ">>", "<<"};
    static const char* const function_names[] = {"SIN", "COS", "ABS", "SGN", "TRUNC", "SQRT", "NEG"};
    std::string out;
    for (const formula_instruction& i : program) {
        if (!out.empty()) {
            out += ", ";
        }
        switch (i.kind) {
        case instruction_kind::push_integer:
            out += "push " + std::to_string(i.integer);
            break;
        case instruction_kind::push_float: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", i.real);
            out += std::string("push ") + text;
            break;
        }
        case instruction_kind::load_variable:
            out += "load " + std::to_string(i.integer);
            break;
        case instruction_kind::select:
            out += "select";
            break;
        case instruction_kind::call_unary:
        case instruction_kind::call_binary: {
            std::string name = "?";
            for (std::uint32_t code = 0; code <= tk_shift_left; ++code) {
                const formula_instruction op = lookup_operator(code);
                if (op.kind == i.kind && op.integer == i.integer) {
                    name = operator_names[code];
                }
            }
            for (const char* f : function_names) {
                if (i.kind == instruction_kind::call_unary && find_unary_function(f) == i.unary && name == "?") {
                    name = f;
                }
            }
            if (i.kind == instruction_kind::call_binary && find_binary_function("ROUND") == i.binary) {
                name = "ROUND";
            }
            out += "call " + name;
            break;
        }
        }
    }
    return out;
}

compile_result compile(std::string_view text)
{
    static const test_names names;
    return compile_formula(text, names);
}

formula_value run(std::string_view text, const test_values& values = {})
{
    const compile_result c = compile(text);
    EXPECT_TRUE(c.succeeded()) << text << ": code " << c.code;
    auto r = run_program(values, c.program, 0, formula_value::from_integer(0));
    EXPECT_TRUE(r) << text;
    return r ? r.value() : formula_value{};
}

TEST(formula_tokenizer, reads_operators_numbers_names_and_function_names)
{
    struct {
        const char* text;
        std::uint32_t kind;
        const char* rest;
    } cases[] = {
        {"  ** 2", tk_power, " 2"},      {"<>1", tk_not_equal, "1"},   {"<1", tk_less, "1"},
        {"0x1F+1", tk_number, "+1"},     {"12", tk_number, ""},        {"7.", tk_number, ""},
        {"Width.Max*2", tk_name, "*2"},  {"SIN (0)", tk_function, "0)"}, {".5", tk_name, ""},
        {"$", tk_end, "$"},              {" \t\r\n", tk_end, ""},      {"_a1", tk_name, ""},
    };
    for (const auto& c : cases) {
        const formula_token t = next_token(c.text);
        EXPECT_EQ(t.kind, c.kind) << c.text;
        EXPECT_EQ(t.rest, c.rest) << c.text;
    }
    EXPECT_EQ(next_token("SIN (0)").name, "SIN");
    EXPECT_EQ(next_token("$").reason, invalid_character);
    EXPECT_EQ(next_token("").reason, end_of_text);

    formula_value v;
    EXPECT_EQ(read_number_literal("0x1F", v), 4u);
    EXPECT_TRUE(v.is_integer);
    EXPECT_EQ(v.integer(), 31);
    EXPECT_EQ(read_number_literal("2e3+1", v), 3u);
    EXPECT_FALSE(v.is_integer);
    EXPECT_EQ(v.real(), 2000.0);
    EXPECT_EQ(read_number_literal("1e-3", v), 4u);
    EXPECT_EQ(v.real(), 0.001);
    EXPECT_EQ(read_number_literal("7abc", v), 1u);
    EXPECT_EQ(v.integer(), 7);
    EXPECT_EQ(read_number_literal("0xg", v), 0u);
    // Twenty nines wrap silently instead of failing.
    EXPECT_EQ(read_number_literal("99999999999999999999", v), 20u);
    EXPECT_TRUE(v.is_integer);
}

TEST(formula_tokenizer, reads_every_literal_as_the_number_reader_does)
{
    // Plain decimal integers take a shorter way through the tokenizer than
    // the rest; both must agree with the reader of number texts.
    for (const char* text : {"0", "00", "007", "5)", "12+3", "0x", "0x)", "0x1F", "0Xff*2", "0xg", "1.", "1.5", "9e",
                             "1e3", "1E-2", "2.5e+1x", "18446744073709551615", "18446744073709551616",
                             "99999999999999999999", "123456789012345678901234567890", "1_a", "4 ", "3.e"}) {
        formula_value v;
        const std::size_t used = read_number_literal(text, v);
        const auto expected = GenICam::impl::parse_number_literal(text);
        if (!expected) {
            EXPECT_EQ(used, 0u) << text;
            continue;
        }
        EXPECT_EQ(used, expected->consumed.size()) << text;
        EXPECT_EQ(v.is_integer, expected->value.is_integer) << text;
        if (v.is_integer) {
            EXPECT_EQ(v.integer(), expected->value.i) << text;
        } else {
            EXPECT_EQ(v.real(), expected->value.d) << text;
        }
    }
}

TEST(formula_parser, emits_postfix_in_the_documented_precedence)
{
    struct {
        const char* text;
        const char* program;
    } cases[] = {
        {"1+2*3", "push 1, push 2, push 3, call *, call +"},
        {"(1+2)*3", "push 1, push 2, call +, push 3, call *"},
        // Comparisons and logic share the loosest level, left to right.
        {"a > b && c", "load 1000, load 1001, call >, load 1002, call &&"},
        {"a && b = c", "load 1000, load 1001, call &&, load 1002, call ="},
        {"a = b | c", "load 1000, load 1001, load 1002, call |, call ="},
        {"a + b & c", "load 1000, load 1001, call +, load 1002, call &"},
        {"2 ** 3 ** 2", "push 2, push 3, call **, push 2, call **"},
        {"-a * b", "load 1000, call neg, load 1001, call *"},
        // Each two adjacent levels both ways round: select, comparison and
        // logic, bitwise and shifts, additive, multiplicative, prefix.
        {"a = b ? 1 : 2", "load 1000, load 1001, call =, push 1, push 2, select"},
        {"a ? 1 : b = 2", "load 1000, push 1, load 1001, push 2, call =, select"},
        {"a | b = c", "load 1000, load 1001, call |, load 1002, call ="},
        {"a << b > c", "load 1000, load 1001, call <<, load 1002, call >"},
        {"a < b >> c", "load 1000, load 1001, load 1002, call >>, call <"},
        {"a & b + c", "load 1000, load 1001, load 1002, call +, call &"},
        {"1 << 2 + 1", "push 1, push 2, push 1, call +, call <<"},
        {"a - b >> c", "load 1000, load 1001, call -, load 1002, call >>"},
        {"a * b - c", "load 1000, load 1001, call *, load 1002, call -"},
        {"a + b % c", "load 1000, load 1001, load 1002, call %, call +"},
        {"a * -b", "load 1000, load 1001, call neg, call *"},
        {"~a ** b", "load 1000, call ~, load 1001, call **"},
        // Left to right within each level.
        {"a || b && c", "load 1000, load 1001, call ||, load 1002, call &&"},
        {"a < b <> c", "load 1000, load 1001, call <, load 1002, call <>"},
        {"1 | 2 << 1", "push 1, push 2, call |, push 1, call <<"},
        {"a & b | c", "load 1000, load 1001, call &, load 1002, call |"},
        {"a ^ b >> c", "load 1000, load 1001, call ^, load 1002, call >>"},
        {"a >> b & c", "load 1000, load 1001, call >>, load 1002, call &"},
        {"a - b + c", "load 1000, load 1001, call -, load 1002, call +"},
        {"a / b * c", "load 1000, load 1001, call /, load 1002, call *"},
        {"a % b ** c", "load 1000, load 1001, call %, load 1002, call **"},
        {"+~1", "push 1, call ~"},
        {"a ? b : c ? 1 : 2", "load 1000, load 1001, load 1002, push 1, push 2, select, select"},
        {"SIN (0)", "push 0, call SIN"},
        {"ROUND(2.5, 0)", "push 2.5, push 0, call ROUND"},
        {"PI", "push 3.1415926535897931"},
        {"E", "push 2.7182818284590451"},
        {"K + X", "push 10, load 1000, push 2, call *, call +"},
        {"1 2", "push 1"},
        {"1 +", "push 1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const compile_result r = compile(c.text);
        EXPECT_TRUE(r.succeeded()) << c.text << ": code " << r.code;
        EXPECT_EQ(dump(r.program), c.program) << c.text;
    }
}

TEST(formula_parser, formulas_of_any_length_parse_alike)
{
    // Sums of 1 with k terms: 2k - 1 tokens and the end. Around 32 tokens a
    // formula's tokens stop fitting the space the compiler keeps them in.
    for (int terms = 1; terms <= 40; ++terms) {
        std::string text = "1";
        std::string program = "push 1";
        for (int i = 1; i < terms; ++i) {
            text += " + 1";
            program += ", push 1, call +";
        }
        compile_result r = compile(text);
        EXPECT_TRUE(r.succeeded()) << text;
        EXPECT_EQ(dump(r.program), program) << text;
        // What follows a complete expression ends it, or is an invalid token.
        r = compile(text + " 2");
        EXPECT_TRUE(r.succeeded()) << text;
        EXPECT_EQ(dump(r.program), program) << text;
        const std::string invalid = text + " $";
        r = compile(invalid);
        EXPECT_EQ(r.code, parse_invalid_token) << text;
        EXPECT_EQ(r.rest, "$") << text;
        r = compile(text + " +");
        EXPECT_TRUE(r.succeeded()) << text;
        EXPECT_EQ(dump(r.program), program) << text;
        r = compile("(" + text);
        EXPECT_EQ(r.code, parse_missing_close) << text;
    }
}

TEST(formula_parser, reports_each_failure_with_its_code)
{
    struct {
        const char* text;
        std::uint32_t code;
    } cases[] = {
        {"2 $ 3", parse_invalid_token},
        {"2 + $", parse_invalid_token},
        {"nobody + 1", parse_unmapped_variable},
        {".5", parse_unmapped_variable},
        {"Sin(0)", parse_unknown_function},
        {"round(2.5, 0)", parse_unknown_function},
        {"ROUND(2.5)", parse_unknown_function},
        {"SIN(1, 2, 3)", parse_unknown_function},
        {"SIN(1 2)", parse_missing_comma_or_close},
        {"1 ? 2 , 3", parse_missing_colon},
        {"(1", parse_missing_close},
        {"(1 2", parse_missing_close},
        {"-", parse_nothing_after_prefix},
        {"*2", parse_no_factor},
    };
    for (const auto& c : cases) {
        const compile_result r = compile(c.text);
        EXPECT_EQ(r.code, c.code) << c.text << " -> " << parse_code_text(r.code);
        EXPECT_TRUE(r.program.empty()) << c.text;
    }
    const compile_result unmapped = compile("1 + nobody");
    EXPECT_EQ(unmapped.unmapped_name, "nobody");
    EXPECT_EQ(unmapped.rest, "nobody");
    EXPECT_STREQ(parse_code_text(parse_missing_colon), "expected colon for tri-nary operator.");
}

TEST(formula_parser, bounds_nesting_and_program_size_instead_of_exhausting_the_stack)
{
    std::string nested_calls;
    for (int i = 0; i < 10000; ++i) {
        nested_calls += "SIN(";
    }
    const std::string too_deep[] = {
        std::string(100000, '(') + "1" + std::string(100000, ')'),
        std::string(100000, '(') + "1",
        std::string(100000, '-') + "1",
        nested_calls + "1",
    };
    for (const std::string& text : too_deep) {
        const compile_result r = compile(text);
        EXPECT_EQ(r.code, parse_too_complex) << text.substr(0, 20);
        EXPECT_TRUE(r.program.empty()) << text.substr(0, 20);
    }

    // 10,000 tokens in a flat formula compile and run.
    std::string flat = "1";
    for (int i = 0; i < 5000; ++i) {
        flat += "+1";
    }
    EXPECT_EQ(run(flat).integer(), 5001);

    // An Expression used twice per step doubles the program; the size cap stops
    // it.
    class doubling final : public formula_name_resolver {
    public:
        formula_program big;
        std::optional<formula_symbol> find_identifier(std::string_view) const override
        {
            return formula_symbol::expand(big);
        }
    } names;
    for (int i = 0; i < 70000; ++i) {
        names.big.push_back(formula_instruction::push(formula_value::from_integer(1)));
    }
    EXPECT_EQ(compile_formula("Y + Y", names).code, parse_too_complex);
}

// The select chain of a converter that maps a value to the index of its
// entry, nested `depth` deep as descriptions write it:
// (TO=0)?0:((TO=1)?3:(...((TO=depth-1)?3*(depth-1):-1)...)).
std::string select_chain(int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "(TO=" + std::to_string(i) + ")?" + std::to_string(3 * i) + ":(";
    }
    return text + "-1" + std::string(depth, ')');
}

formula_value run_with_input(const compile_result& c, std::int64_t input)
{
    auto r = run_program(test_values{}, c.program, 0, formula_value::from_integer(input));
    EXPECT_TRUE(r) << "input " << input;
    return r ? r.value() : formula_value{};
}

TEST(formula_parser, select_chains_of_any_real_depth_pick_their_branch)
{
    struct {
        int depth;
        std::int64_t input;
        std::int64_t value;
    } cases[] = {
        {45, 0, 0},     {45, 30, 90},     {45, 44, 132},     {45, 45, -1},
        {1000, 0, 0},   {1000, 617, 1851}, {1000, 999, 2997}, {1000, 1000, -1},
    };
    for (const auto& c : cases) {
        const compile_result compiled = compile(select_chain(c.depth));
        ASSERT_TRUE(compiled.succeeded()) << c.depth << " deep: " << parse_code_text(compiled.code);
        const formula_value v = run_with_input(compiled, c.input);
        EXPECT_TRUE(v.is_integer) << c.depth << " deep, input " << c.input;
        EXPECT_EQ(v.integer(), c.value) << c.depth << " deep, input " << c.input;
    }
}

TEST(formula_parser, parentheses_calls_and_prefixes_nest_a_thousand_deep)
{
    std::string left_nested = "7";
    std::string negations;
    std::string calls;
    for (int i = 0; i < 1000; ++i) {
        left_nested = "(" + left_nested + "+1)";
        negations += "-(";
        calls += "ABS(";
    }
    struct {
        const char* shape;
        std::string text;
        bool is_integer;
        double value;
    } cases[] = {
        {"(((7)))", std::string(1000, '(') + "7" + std::string(1000, ')'), true, 7},
        {"(((7+1)+1)+1)", left_nested, true, 1007},
        {"-(-(-(7)))", negations + "7" + std::string(1000, ')'), true, 7},
        {"ABS(ABS(-7))", calls + "-7" + std::string(1000, ')'), false, 7.0},
    };
    for (const auto& c : cases) {
        const compile_result compiled = compile(c.text);
        ASSERT_TRUE(compiled.succeeded()) << c.shape << ": " << parse_code_text(compiled.code);
        const formula_value v = run_with_input(compiled, 0);
        EXPECT_EQ(v.is_integer, c.is_integer) << c.shape;
        EXPECT_EQ(to_double(v), c.value) << c.shape;
    }
}

// Runs `work` on a thread of its own whose stack is `bytes` long; false when
// no such thread could be started.
template <typename F>
bool run_on_stack_of(std::size_t bytes, F& work)
{
#if defined(_WIN32)
    struct entry {
        static DWORD WINAPI run(void* w)
        {
            (*static_cast<F*>(w))();
            return 0;
        }
    };
    const HANDLE thread = CreateThread(nullptr, bytes, &entry::run, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        return false;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
#else
    struct entry {
        static void* run(void* w)
        {
            (*static_cast<F*>(w))();
            return nullptr;
        }
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, &entry::run, &work) == 0;
    pthread_attr_destroy(&attributes);
    if (started) {
        pthread_join(thread, nullptr);
    }
    return started;
#endif
}

TEST(formula_parser, deep_formulas_compile_and_run_on_a_small_thread_stack)
{
    // Pool threads and applications may give the engine far less stack than
    // a main thread; how deep a formula is must not matter to it.
    std::uint32_t chain_code = 0;
    std::int64_t chain_value = 0;
    std::uint32_t open_code = 0;
    auto work = [&] {
        const compile_result chain = compile(select_chain(1000));
        chain_code = chain.code;
        auto r = run_program(test_values{}, chain.program, 0, formula_value::from_integer(617));
        chain_value = r ? r.value().integer() : 0;
        open_code = compile(std::string(100000, '(') + "1").code;
    };
    ASSERT_TRUE(run_on_stack_of(256 * 1024, work));
    EXPECT_EQ(chain_code, parse_end_of_text);
    EXPECT_EQ(chain_value, 1851);
    EXPECT_EQ(open_code, parse_too_complex);
}

struct value_case {
    const char* text;
    bool is_integer;
    double value;
};

void expect_values(const value_case* begin, const value_case* end, const test_values& values = {})
{
    for (const value_case* c = begin; c != end; ++c) {
        const formula_value v = run(c->text, values);
        EXPECT_EQ(v.is_integer, c->is_integer) << c->text;
        if (std::isnan(c->value)) {
            EXPECT_TRUE(std::isnan(to_double(v))) << c->text;
        } else {
            EXPECT_EQ(to_double(v), c->value) << c->text;
            EXPECT_EQ(std::signbit(to_double(v)), std::signbit(c->value)) << c->text;
        }
    }
}

TEST(formula_evaluator, computes_arithmetic_in_integers_or_doubles)
{
    const double inf = std::numeric_limits<double>::infinity();
    const value_case cases[] = {
        {"7/2", true, 3},
        {"7/2.0", false, 3.5},
        {"7.0/0", false, inf},
        {"-7/2", true, -3},
        {"7 % 3", true, 1},
        {"-7 % 3", true, -1},
        {"7.6 % 3", true, 2},
        {"2**3**2", true, 64},
        {"2**0.5", false, 1.4142135623730951},
        {"2 ** 10", true, 1024},
        {"2 ** -1", true, 0},
        {"2 ** 64", true, -9223372036854775808.0},
        {"-2 ** 2", true, 4},
        {"9223372036854775807 + 1", true, -9223372036854775808.0},
        {"0x7FFFFFFFFFFFFFFF * 2", true, -2},
        {"-(0x7FFFFFFFFFFFFFFF + 1)", true, -9223372036854775808.0},
        {"3 > 2.5", true, 1},
        {"1 = 1.0", true, 1},
        {"0.1 + 0.2 = 0.3", true, 0},
        {"1 <> 2", true, 1},
        {"1 && 0.0", true, 0},
        {"0 || -0.0", true, 0},
        {"5.5 & 3", true, 2},
        {"1 << 65", true, 2},
        {"-8 >> 1", true, -4},
        {"1 << 64", true, 1},
        {"~0", true, -1},
        {"6 ^ 3", true, 5},
        {"0 ? 1 : 2", true, 2},
        {"0.5 ? 1 : 2.5", true, 1},
        // Precedence and order as values: a wrong binding gives another number.
        {"1 << 2 + 1", true, 8},
        {"1 | 2 << 1", true, 6},
        {"2 + 3 << 1", true, 10},
        {"6 & 3 + 1", true, 4},
        {"8 >> 1 << 2", true, 16},
        {"6 ^ 3 & 5", true, 5},
        {"3 = 1 + 2", true, 1},
        {"2 | 1 = 3", true, 1},
        {"1 = 1 | 2", true, 0},
        {"0 && 0 || 1", true, 1},
        {"1 || 1 && 0", true, 0},
        {"1 ? 5 : 6 = 6", true, 5},
        {"10 - 4 - 3", true, 3},
        {"10 - 4 + 3", true, 9},
        {"2 * 3 + 4", true, 10},
        {"7 % 4 * 2", true, 6},
        {"8 / 2 * 4", true, 16},
        {"2 * 3 ** 2", true, 36},
        {"~1 + 1", true, -1},
    };
    expect_values(std::begin(cases), std::end(cases));
}

TEST(formula_evaluator, computes_every_function)
{
    const value_case cases[] = {
        {"ABS(-3)", false, 3.0},
        {"SGN(-3)", true, -1},
        {"SGN(0)", true, 0},
        {"SGN(-0.0)", false, -0.0},
        {"SGN(2.5)", false, 1.0},
        {"TRUNC(-2.7)", false, -2.0},
        {"TRUNC(2.7)", false, 2.0},
        {"TRUNC(1e300)", false, -9223372036854775808.0},
        {"ROUND(2.5, 0)", false, 3.0},
        {"ROUND(-2.5, 0)", false, -3.0},
        {"ROUND(-2.3, 0)", false, -2.0},
        {"ROUND(0.125, 2)", false, 0.13},
        {"ROUND(2.345, 2)", false, 2.35},
        {"ROUND(1250, -2)", false, 1300.0},
        {"NEG(5)", true, -5},
        {"NEG(0.0)", false, -0.0},
        {"-0.0", false, -0.0},
        {"sin(0)", false, 0.0},
        {"COS(0)", false, 1.0},
        {"SQRT(-1)", false, std::nan("")},
        {"LN(E)", false, 1.0},
        {"LG(1000)", false, 3.0},
        {"FLOOR(-1.5)", false, -2.0},
        {"CEIL(1.2)", false, 2.0},
        {"EXP(0)", false, 1.0},
        {"ATAN(0) + ASIN(0) + TAN(0)", false, 0.0},
        {"ACOS(1)", false, 0.0},
        {"abs(neg(2))", false, 2.0},
    };
    expect_values(std::begin(cases), std::end(cases));
}

TEST(formula_evaluator, reads_variables_and_treats_nan_as_true)
{
    test_values values;
    values.values[1000] = formula_value::from_double(std::nan(""));
    values.values[1001] = formula_value::from_integer(4);
    const value_case cases[] = {
        {"a ? 1 : 2", true, 1},
        {"b * 2 + X", false, std::nan("")},
        {"a = a", true, 0},
        {"a <> a", true, 1},
        {"a & 1", true, 0}, // NaN converts to INT64_MIN, whose low bit is 0
    };
    expect_values(std::begin(cases), std::end(cases), values);

    // The converter's input value is handed through unchanged.
    const compile_result c = compile("TO * 2");
    auto r = run_program(values, c.program, 0, formula_value::from_double(1.25));
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value().real(), 2.5);
}

TEST(formula_evaluator, fails_without_faulting_where_no_result_is_defined)
{
    const test_values values;
    const char* failing[] = {
        "1/0", "1%0", "(0x7FFFFFFFFFFFFFFF + 1) / -1", "(0x7FFFFFFFFFFFFFFF + 1) % -1", "c + 1", "5 % 0.2",
    };
    for (const char* text : failing) {
        const compile_result c = compile(text);
        ASSERT_TRUE(c.succeeded()) << text;
        auto r = run_program(values, c.program, 0, {});
        ASSERT_FALSE(r) << text;
        EXPECT_EQ(r.error(), GenICam::make_error_code(GenICam::errc::formula_parse_failed)) << text;
    }
    auto none = run_program(values, formula_program{}, 0, {});
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), GenICam::make_error_code(GenICam::errc::not_implemented));
}

TEST(formula_evaluator, names_each_stack_fault)
{
    struct fixed_source final : formula_variable_source {
        outcome::std_result<formula_value> get_value(std::int64_t) override
        {
            return GenICam::make_error_code(GenICam::errc::not_implemented);
        }
    } source;
    const auto run_raw = [&](std::initializer_list<formula_instruction> code) {
        formula_program p;
        for (const auto& i : code) {
            p.push_back(i);
        }
        return evaluate(p, source);
    };
    const formula_instruction one = formula_instruction::push(formula_value::from_integer(1));
    EXPECT_STREQ(run_raw({lookup_operator(tk_negate)}).error, "Failed to get 1 parameter for unary function.");
    EXPECT_STREQ(run_raw({one, lookup_operator(tk_plus)}).error, "Failed to get 2 parameters for binary function.");
    EXPECT_STREQ(run_raw({one, one, formula_instruction::select()}).error,
                 "Failed to get 3 parameters for condition operator.");
    EXPECT_STREQ(run_raw({formula_instruction::load(1000)}).error, "Failed to look up variable name.");
    EXPECT_STREQ(run_raw({}).error, "Unbalanced calc stack.");
    // Values left below the top are ignored.
    const evaluation_result two = run_raw({one, formula_instruction::push(formula_value::from_integer(2))});
    EXPECT_EQ(two.error, nullptr);
    EXPECT_EQ(two.value.integer(), 2);
}

} // namespace
