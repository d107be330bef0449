#pragma once
// Compiles a formula text into a postfix program. The parser emits the
// program while it parses, keeping the constructs it has begun on a stack of
// its own rather than the thread's; names are turned into variable loads,
// constants or the inline copy of an Expression by the compiling node's
// resolver. The parser never throws and bounds its nesting depth.

#include "genicam/formula_program.h"
#include "genicam/formula_value.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace genicam::formula {

// What a name stands for in the compiling node.
struct formula_symbol {
    enum class kind : std::uint8_t { variable, expression, constant };
    kind what = kind::constant;
    std::int64_t variable_id = 0;                // kind::variable
    const formula_program* expression = nullptr; // kind::expression
    formula_value constant;                      // kind::constant

    static formula_symbol variable(std::int64_t id) noexcept { return {kind::variable, id, nullptr, {}}; }
    static formula_symbol expand(const formula_program& p) noexcept { return {kind::expression, 0, &p, {}}; }
    static formula_symbol value(formula_value v) noexcept { return {kind::constant, 0, nullptr, v}; }
};

class formula_name_resolver {
public:
    virtual std::optional<formula_symbol> find_identifier(std::string_view name) const = 0;

protected:
    ~formula_name_resolver() = default;
};

// Parse result codes.
enum parse_code : std::uint32_t {
    parse_ok = 0,
    parse_end_of_text = 1, // also a success at the top
    parse_invalid_token = 2,
    parse_unmapped_variable = 3,
    parse_unknown_function = 4,
    parse_missing_comma_or_close = 6,
    parse_missing_colon = 7,
    parse_missing_close = 8,
    parse_nothing_after_prefix = 9,
    parse_no_factor = 10,
    parse_too_complex = 11, // nesting deeper than max_nesting, or a program past max_program_size
};

// The text of a code as the compile failure's log line shows it.
const char* parse_code_text(std::uint32_t code) noexcept;

// At most this many constructs are open at any point of a formula: each
// unclosed parenthesis or function call, "?" branch, "-" or "~" prefix and
// operator waiting for its right operand counts one. They are kept on the
// heap, so the limit bounds the parser's memory, not the thread's stack;
// descriptions write select chains like (TO=0)?0:((TO=1)?1:(...)), which take
// two per select.
inline constexpr std::uint32_t max_nesting = 4096;

struct compile_result {
    std::uint32_t code = parse_ok;    // parse_ok or parse_end_of_text: success
    std::string_view rest;            // the text where parsing stopped
    std::string_view unmapped_name;   // the name that failed to map (code 3)
    formula_program program;

    bool succeeded() const noexcept { return code == parse_ok || code == parse_end_of_text; }
};

// Compiles without logging; parse_and_compile (formula_compile.h) adds the
// engine's log lines.
compile_result compile_formula(std::string_view text, const formula_name_resolver& resolver) noexcept;

// Instructions of the whole text, the pre-count that sizes the program:
// tokens other than "(", ")", ":" and ",".
std::uint32_t count_program_tokens(std::string_view text) noexcept;

} // namespace genicam::formula
