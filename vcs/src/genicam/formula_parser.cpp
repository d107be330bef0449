#include "genicam/formula_parser.h"

#include "genicam/formula_functions.h"
#include "genicam/formula_tokenizer.h"

#include <new>
#include <type_traits>

namespace genicam::formula {
namespace {

struct parse_result {
    std::uint32_t code = parse_ok;
};

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

    std::uint32_t run() noexcept { return parse_expression().code; }
    std::string_view stopped_at() const noexcept { return token_->text; }

private:
    // Counts one level of nesting for as long as it lives.
    class nesting {
    public:
        explicit nesting(std::uint32_t& depth) noexcept : depth_(depth) { ++depth_; }
        ~nesting() { --depth_; }
        nesting(const nesting&) = delete;
        nesting& operator=(const nesting&) = delete;

    private:
        std::uint32_t& depth_;
    };

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
    parse_result end_code() const noexcept { return {token_->reason}; }

    bool emit(const formula_instruction& i) noexcept
    {
        return out_.program.size() < max_program_size && out_.program.push_back(i);
    }

    // An operator after its operands; a full program turns the level's
    // result into the too-complex failure.
    parse_result emit_operator(std::uint32_t code, parse_result operand) noexcept
    {
        if (!emit(lookup_operator(code))) {
            return {parse_too_complex};
        }
        return operand;
    }

    // One operator level: operands of the next tighter level joined by the
    // operators that `belongs` accepts, left to right. Both are template
    // arguments, so that each level's calls are direct.
    template <bool (*belongs)(std::uint32_t) noexcept, parse_result (parser::*operand)() noexcept>
    parse_result parse_level() noexcept
    {
        if (at_end()) {
            return end_code();
        }
        if (const parse_result r = (this->*operand)(); r.code != parse_ok) {
            return r;
        }
        for (;;) {
            if (at_end()) {
                return end_code();
            }
            if (!belongs(token_->kind)) {
                return {parse_ok};
            }
            const std::uint32_t op = token_->kind;
            advance();
            if (at_end()) {
                return end_code(); // the operand never began: the operator is not emitted
            }
            const parse_result r = emit_operator(op, (this->*operand)());
            if (r.code != parse_ok) {
                return r;
            }
        }
    }

    parse_result parse_expression() noexcept
    {
        nesting level(depth_);
        if (depth_ > max_nesting) {
            return {parse_too_complex};
        }
        if (const parse_result r = parse_level<is_comparison, &parser::parse_bitwise>(); r.code != parse_ok) {
            return r;
        }
        while (token_->kind == tk_question) {
            advance();
            if (const parse_result r = parse_expression(); r.code != parse_ok) {
                return r;
            }
            if (token_->kind != tk_colon) {
                return {parse_missing_colon};
            }
            advance();
            if (at_end()) {
                return end_code();
            }
            const parse_result r = parse_expression();
            if (!emit(formula_instruction::select())) {
                return {parse_too_complex};
            }
            if (r.code != parse_ok) {
                return r;
            }
        }
        return {parse_ok};
    }

    parse_result parse_bitwise() noexcept { return parse_level<is_bitwise, &parser::parse_additive>(); }
    parse_result parse_additive() noexcept { return parse_level<is_additive, &parser::parse_multiplicative>(); }
    parse_result parse_multiplicative() noexcept { return parse_level<is_multiplicative, &parser::parse_factor>(); }

    parse_result parse_factor() noexcept
    {
        nesting level(depth_);
        if (depth_ > max_nesting) {
            return {parse_too_complex};
        }
        switch (token_->kind) {
        case tk_function: {
            const std::string_view name = token_->name;
            advance();
            return parse_call(name);
        }
        case tk_number: {
            const formula_value v = token_->number;
            advance();
            return emit(formula_instruction::push(v)) ? parse_result{parse_ok} : parse_result{parse_too_complex};
        }
        case tk_name: {
            const std::string_view name = token_->name;
            const parse_result r = map_variable(name);
            if (r.code == parse_ok) {
                advance();
            }
            return r;
        }
        case tk_open: {
            advance();
            const parse_result r = parse_expression();
            if (r.code == parse_end_of_text) {
                return {parse_missing_close};
            }
            if (r.code != parse_ok) {
                return r;
            }
            if (token_->kind != tk_close) {
                return {parse_missing_close};
            }
            advance();
            return {parse_ok};
        }
        default:
            return parse_prefix();
        }
    }

    parse_result parse_prefix() noexcept
    {
        const std::uint32_t op = token_->kind;
        advance();
        if (at_end()) {
            return {parse_nothing_after_prefix};
        }
        switch (op) {
        case tk_minus:
            return emit_operator(tk_negate, parse_factor());
        case tk_plus:
            return parse_factor();
        case tk_complement:
            return emit_operator(tk_complement, parse_factor());
        default:
            return {parse_no_factor};
        }
    }

    parse_result parse_call(std::string_view name) noexcept
    {
        nesting level(depth_);
        if (depth_ > max_nesting) {
            return {parse_too_complex};
        }
        std::uint32_t arguments = 0;
        for (;;) {
            if (const parse_result r = parse_expression(); r.code != parse_ok) {
                return r;
            }
            ++arguments;
            if (token_->kind == tk_comma) {
                advance();
                continue;
            }
            if (token_->kind == tk_close) {
                advance();
                break;
            }
            return {parse_missing_comma_or_close};
        }
        if (arguments == 1) {
            if (const unary_evaluator f = find_unary_function(name)) {
                return emit(formula_instruction::call(f)) ? parse_result{parse_ok} : parse_result{parse_too_complex};
            }
        } else if (arguments == 2) {
            if (const binary_evaluator f = find_binary_function(name)) {
                return emit(formula_instruction::call(f)) ? parse_result{parse_ok} : parse_result{parse_too_complex};
            }
        }
        return {parse_unknown_function};
    }

    // "PI" and "E" are the constants, whatever the node declares; any other
    // name is what the node's resolver makes of it.
    parse_result map_variable(std::string_view name) noexcept
    {
        if (name == "PI" || name == "E") {
            const double v = name == "PI" ? pi_value : e_value;
            return emit(formula_instruction::push(formula_value::from_double(v))) ? parse_result{parse_ok}
                                                                                   : parse_result{parse_too_complex};
        }
        std::optional<formula_symbol> symbol;
        try {
            symbol = resolver_.find_identifier(name);
        } catch (...) {
            symbol.reset();
        }
        if (!symbol) {
            out_.unmapped_name = name;
            return {parse_unmapped_variable};
        }
        switch (symbol->what) {
        case formula_symbol::kind::variable:
            return emit(formula_instruction::load(symbol->variable_id)) ? parse_result{parse_ok}
                                                                         : parse_result{parse_too_complex};
        case formula_symbol::kind::expression: {
            const formula_program& p = *symbol->expression;
            if (static_cast<std::uint64_t>(out_.program.size()) + p.size() > max_program_size ||
                !out_.program.append(p.data(), p.size())) {
                return {parse_too_complex};
            }
            return {parse_ok};
        }
        case formula_symbol::kind::constant:
            return emit(formula_instruction::push(symbol->constant)) ? parse_result{parse_ok}
                                                                      : parse_result{parse_too_complex};
        }
        return {parse_unmapped_variable};
    }

    const formula_name_resolver& resolver_;
    compile_result& out_;
    const formula_token* token_;
    const formula_token* last_kept_;
    bool all_kept_;
    formula_token own_; // the token read from the text, past the kept ones
    std::uint32_t depth_ = 0;
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
