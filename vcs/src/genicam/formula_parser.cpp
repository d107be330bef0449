#include "genicam/formula_parser.h"

#include "genicam/formula_functions.h"
#include "genicam/formula_inline_vector.h"
#include "genicam/formula_tokenizer.h"

#include <new>
#include <type_traits>

namespace genicam::formula {
namespace {

constexpr double pi_value = 3.141592653589793;
constexpr double e_value = 2.718281828459045;

bool is_comparison(std::uint32_t kind) noexcept
{
    switch (kind) {
    case tk_greater_equal:
    case tk_less_equal:
    case tk_not_equal:
    case tk_greater:
    case tk_less:
    case tk_equal:
    case tk_logical_and:
    case tk_logical_or:
        return true;
    default:
        return false;
    }
}

bool is_bitwise(std::uint32_t kind) noexcept
{
    return kind == tk_bit_and || kind == tk_bit_or || kind == tk_bit_xor || kind == tk_shift_right ||
           kind == tk_shift_left;
}

bool is_additive(std::uint32_t kind) noexcept { return kind == tk_plus || kind == tk_minus; }

bool is_multiplicative(std::uint32_t kind) noexcept
{
    return kind == tk_power || kind == tk_remainder || kind == tk_multiply || kind == tk_divide;
}

// Whether a token becomes a program slot: all but "(", ")", ":" and ",".
bool takes_program_slot(std::uint32_t kind) noexcept
{
    return kind != tk_open && kind != tk_close && kind != tk_colon && kind != tk_comma;
}

// The first tokens of a formula, kept from the counting pass so that the
// parser does not read them from the text a second time. Of a formula longer
// than the space here, the parser reads the rest from the text.
class kept_tokens {
public:
    static constexpr std::size_t capacity = 32;

    kept_tokens() noexcept = default;
    kept_tokens(const kept_tokens&) = delete;
    kept_tokens& operator=(const kept_tokens&) = delete;

    // Reads every token of `text` (the end token last) and counts those that
    // take a program slot, as count_program_tokens does.
    std::uint32_t read(std::string_view text) noexcept
    {
        std::uint32_t count = 0;
        formula_token overflow;
        formula_token* t = next_slot(overflow);
        for (read_token(text, *t); t->kind != tk_end; t = next_slot(overflow), read_token(text, *t)) {
            if (takes_program_slot(t->kind) && count < max_program_size) {
                ++count;
            }
            text = t->rest;
        }
        return count;
    }

    // The kept tokens, at least one; the last is the end token when `complete`.
    const formula_token* first() const noexcept { return slot(0); }
    const formula_token* last() const noexcept { return slot(size_ - 1); }
    bool complete() const noexcept { return complete_; }

private:
    formula_token* slot(std::size_t i) noexcept { return std::launder(reinterpret_cast<formula_token*>(storage_) + i); }
    const formula_token* slot(std::size_t i) const noexcept
    {
        return std::launder(reinterpret_cast<const formula_token*>(storage_) + i);
    }

    formula_token* next_slot(formula_token& overflow) noexcept
    {
        if (size_ < capacity) {
            return new (slot(size_++)) formula_token;
        }
        complete_ = false;
        return &overflow;
    }

    static_assert(std::is_trivially_destructible_v<formula_token>);
    alignas(formula_token) unsigned char storage_[capacity * sizeof(formula_token)];
    std::size_t size_ = 0;
    bool complete_ = true;
};

// The binding of a two-operand operator, 1 the loosest; 0 for any other token.
std::uint8_t binary_precedence(std::uint32_t kind) noexcept
{
    if (is_multiplicative(kind)) {
        return 4;
    }
    if (is_additive(kind)) {
        return 3;
    }
    if (is_bitwise(kind)) {
        return 2;
    }
    return is_comparison(kind) ? 1 : 0;
}

// Parses with a stack of the constructs it has begun instead of recursing, so
// that a formula nested a thousand deep, as select chains in descriptions can
// be, needs no more of the thread's stack than a flat one. It produces what a
// recursive descent through the levels (expression, bitwise, additive,
// multiplicative, factor) would: the same program, code and stopping point.
class parser {
public:
    // Reads the tokens that `kept` holds, then the rest from the text.
    parser(const kept_tokens& kept, const formula_name_resolver& resolver, compile_result& out) noexcept
        : resolver_(resolver)
        , out_(out)
        , token_(kept.first())
        , last_kept_(kept.last())
        , all_kept_(kept.complete())
    {
    }

    std::uint32_t run() noexcept
    {
        step next = step::operand;
        while (next == step::operand || next == step::operand_done) {
            next = next == step::operand ? begin_operand() : end_operand();
        }
        if (next == step::failed) {
            unwind();
        }
        return code_;
    }
    std::string_view stopped_at() const noexcept { return token_->text; }

private:
    // What the parser does next.
    enum class step : std::uint8_t {
        operand,      // a factor, and so maybe an expression, begins at the current token
        operand_done, // a factor ended before the current token
        finished,     // the outermost expression ended; code_ is parse_ok
        failed,       // code_ says why; the begun constructs are still open
    };

    // A construct that has begun and waits for the rest of it.
    struct open_construct {
        enum class kind : std::uint8_t {
            binary,      // a two-operand operator, waiting for its right operand
            prefix,      // "-" or "~", waiting for its factor
            group,       // "(", waiting for its expression and ")"
            call,        // a function name, waiting for its arguments and ")"
            condition,   // "?", waiting for the value if true and ":"
            alternative, // ":", waiting for the value if false
        };
        kind what;
        std::uint8_t precedence; // binary
        std::uint32_t code;      // binary, prefix: the operator's token code; call: arguments so far
        std::string_view name;   // call: the function's name
    };
    using construct_kind = open_construct::kind;

    void advance() noexcept
    {
        if (token_ == &own_) {
            read_token(own_.rest, own_);
        } else if (token_ != last_kept_) {
            ++token_;
        } else if (!all_kept_) {
            read_token(token_->rest, own_);
            token_ = &own_;
        }
        // Else at the kept end token: the text has nothing more, and reading
        // on would give the same token again.
    }
    bool at_end() const noexcept { return token_->kind == tk_end; }

    bool emit(const formula_instruction& i) noexcept
    {
        return out_.program.size() < max_program_size && out_.program.push_back(i);
    }

    step fail(std::uint32_t code) noexcept
    {
        code_ = code;
        return step::failed;
    }

    bool open(construct_kind what, std::uint32_t code = 0, std::uint8_t precedence = 0,
              std::string_view name = {}) noexcept
    {
        return open_.size() < max_nesting && open_.push_back({what, precedence, code, name});
    }

    // The end of the text (or an invalid character) where a token is due.
    step fail_at_end() noexcept { return fail(token_->reason); }

    step begin_operand() noexcept
    {
        if (at_end()) {
            return fail_at_end();
        }
        switch (token_->kind) {
        case tk_function:
            if (!open(construct_kind::call, 0, 0, token_->name)) {
                return fail(parse_too_complex);
            }
            advance();
            return step::operand;
        case tk_number: {
            const formula_value v = token_->number;
            advance();
            return emit(formula_instruction::push(v)) ? step::operand_done : fail(parse_too_complex);
        }
        case tk_name: {
            const std::uint32_t code = map_variable(token_->name);
            if (code != parse_ok) {
                return fail(code);
            }
            advance();
            return step::operand_done;
        }
        case tk_open:
            if (!open(construct_kind::group)) {
                return fail(parse_too_complex);
            }
            advance();
            return step::operand;
        default:
            return begin_prefix();
        }
    }

    // Any other token where a factor is due is taken as a prefix operator.
    step begin_prefix() noexcept
    {
        const std::uint32_t op = token_->kind;
        advance();
        if (at_end()) {
            return fail(parse_nothing_after_prefix);
        }
        switch (op) {
        case tk_minus:
            return open(construct_kind::prefix, tk_negate) ? step::operand : fail(parse_too_complex);
        case tk_plus:
            return step::operand; // leaves nothing to do after the factor
        case tk_complement:
            return open(construct_kind::prefix, tk_complement) ? step::operand : fail(parse_too_complex);
        default:
            return fail(parse_no_factor);
        }
    }

    // Emits the operators waiting on the top of the stack that bind at least
    // as tightly as `precedence`: all operators are left-associative.
    bool apply_operators(std::uint8_t precedence) noexcept
    {
        while (!open_.empty() && open_.back().what == construct_kind::binary &&
               open_.back().precedence >= precedence) {
            const std::uint32_t op = open_.back().code;
            open_.pop_back();
            if (!emit(lookup_operator(op))) {
                return false;
            }
        }
        return true;
    }

    step end_operand() noexcept
    {
        // Prefix operators bind tighter than any two-operand one.
        while (!open_.empty() && open_.back().what == construct_kind::prefix) {
            const std::uint32_t op = open_.back().code;
            open_.pop_back();
            if (!emit(lookup_operator(op))) {
                return fail(parse_too_complex);
            }
        }
        if (at_end()) {
            return fail_at_end();
        }
        const std::uint32_t op = token_->kind;
        if (const std::uint8_t precedence = binary_precedence(op)) {
            if (!apply_operators(precedence)) {
                return fail(parse_too_complex);
            }
            advance();
            if (at_end()) {
                return fail_at_end(); // the right operand never began: the operator is not emitted
            }
            return open(construct_kind::binary, op, precedence) ? step::operand : fail(parse_too_complex);
        }
        if (!apply_operators(1)) {
            return fail(parse_too_complex);
        }
        return end_expression();
    }

    // An expression ended before the current token, which is neither the end
    // nor a two-operand operator.
    step end_expression() noexcept
    {
        for (;;) {
            if (token_->kind == tk_question) {
                if (!open(construct_kind::condition)) {
                    return fail(parse_too_complex);
                }
                advance();
                return step::operand;
            }
            if (open_.empty()) {
                code_ = parse_ok;
                return step::finished;
            }
            open_construct& c = open_.back();
            if (c.what == construct_kind::group) {
                open_.pop_back();
                if (token_->kind != tk_close) {
                    return fail(parse_missing_close);
                }
                advance();
                return step::operand_done;
            }
            if (c.what == construct_kind::call) {
                ++c.code;
                if (token_->kind == tk_comma) {
                    advance();
                    return step::operand;
                }
                if (token_->kind != tk_close) {
                    return fail(parse_missing_comma_or_close);
                }
                advance();
                return end_call();
            }
            if (c.what == construct_kind::condition) {
                if (token_->kind != tk_colon) {
                    return fail(parse_missing_colon);
                }
                advance();
                if (at_end()) {
                    return fail_at_end(); // no value if false: the select is not emitted
                }
                c.what = construct_kind::alternative;
                return step::operand;
            }
            // The value if false of a "?" (operators were applied before the
            // expression ended). The expression that holds the "?" ends here
            // too: its value if false took every "?" that followed.
            open_.pop_back();
            if (!emit(formula_instruction::select())) {
                return fail(parse_too_complex);
            }
        }
    }

    // After the ")" of a call, whose construct is on the top of the stack.
    step end_call() noexcept
    {
        const std::string_view name = open_.back().name;
        const std::uint32_t arguments = open_.back().code;
        open_.pop_back();
        if (arguments == 1) {
            if (const unary_evaluator f = find_unary_function(name)) {
                return emit(formula_instruction::call(f)) ? step::operand_done : fail(parse_too_complex);
            }
        } else if (arguments == 2) {
            if (const binary_evaluator f = find_binary_function(name)) {
                return emit(formula_instruction::call(f)) ? step::operand_done : fail(parse_too_complex);
            }
        }
        return fail(parse_unknown_function);
    }

    // After a failure, closes what is still open from the innermost out, as
    // returning through the levels would: an operator or select whose
    // operands had begun is still emitted (this is what a formula cut short
    // at the end of its text compiles to), and "(" turns the end of the text
    // into a missing ")".
    void unwind() noexcept
    {
        while (!open_.empty()) {
            const open_construct c = open_.back();
            open_.pop_back();
            switch (c.what) {
            case construct_kind::binary:
            case construct_kind::prefix:
                if (!emit(lookup_operator(c.code))) {
                    code_ = parse_too_complex;
                }
                break;
            case construct_kind::alternative:
                if (!emit(formula_instruction::select())) {
                    code_ = parse_too_complex;
                }
                break;
            case construct_kind::group:
                if (code_ == parse_end_of_text) {
                    code_ = parse_missing_close;
                }
                break;
            case construct_kind::call:
            case construct_kind::condition:
                break;
            }
        }
    }

    // "PI" and "E" are the constants, whatever the node declares; any other
    // name is what the node's resolver makes of it.
    std::uint32_t map_variable(std::string_view name) noexcept
    {
        if (name == "PI" || name == "E") {
            const double v = name == "PI" ? pi_value : e_value;
            return emit(formula_instruction::push(formula_value::from_double(v))) ? parse_ok : parse_too_complex;
        }
        std::optional<formula_symbol> symbol;
        try {
            symbol = resolver_.find_identifier(name);
        } catch (...) {
            symbol.reset();
        }
        if (!symbol) {
            out_.unmapped_name = name;
            return parse_unmapped_variable;
        }
        switch (symbol->what) {
        case formula_symbol::kind::variable:
            return emit(formula_instruction::load(symbol->variable_id)) ? parse_ok : parse_too_complex;
        case formula_symbol::kind::expression: {
            const formula_program& p = *symbol->expression;
            if (static_cast<std::uint64_t>(out_.program.size()) + p.size() > max_program_size ||
                !out_.program.append(p.data(), p.size())) {
                return parse_too_complex;
            }
            return parse_ok;
        }
        case formula_symbol::kind::constant:
            return emit(formula_instruction::push(symbol->constant)) ? parse_ok : parse_too_complex;
        }
        return parse_unmapped_variable;
    }

    const formula_name_resolver& resolver_;
    compile_result& out_;
    const formula_token* token_;
    const formula_token* last_kept_;
    bool all_kept_;
    formula_token own_; // the token read from the text, past the kept ones
    inline_vector<open_construct, 16> open_; // innermost last
    std::uint32_t code_ = parse_ok;
};

} // namespace

const char* parse_code_text(std::uint32_t code) noexcept
{
    switch (code) {
    case parse_ok:
        return "Success";
    case parse_end_of_text:
        return "End of file";
    case parse_invalid_token:
        return "Invalid token found.";
    case parse_unmapped_variable:
        return "Failed to map a variable name to a identifier_id";
    case parse_unknown_function:
        return "Failed to map a function identifier to a actual function.";
    case parse_missing_comma_or_close:
        return "Failed to find closing ')' or ','";
    case parse_missing_colon:
        return "expected colon for tri-nary operator.";
    case parse_missing_close:
        return "Failed to find a ')'.";
    case parse_nothing_after_prefix:
        return "Failed to find token after unary operator.";
    case parse_no_factor:
        return "Failed to find terminal symbol for factor.";
    case parse_too_complex:
        return "Formula nested too deeply or too long.";
    default:
        return "Unknown parse result.";
    }
}

std::uint32_t count_program_tokens(std::string_view text) noexcept
{
    std::uint32_t count = 0;
    formula_token t;
    for (read_token(text, t); t.kind != tk_end; read_token(t.rest, t)) {
        if (takes_program_slot(t.kind) && count < max_program_size) {
            ++count;
        }
    }
    return count;
}

compile_result compile_formula(std::string_view text, const formula_name_resolver& resolver) noexcept
{
    compile_result out;
    kept_tokens tokens;
    out.program.reserve(tokens.read(text));
    parser p(tokens, resolver, out);
    out.code = p.run();
    if (!out.succeeded()) {
        out.rest = p.stopped_at();
        out.program.release();
    }
    return out;
}

} // namespace genicam::formula
