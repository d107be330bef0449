#pragma once
// A compiled formula: a postfix program for the stack machine of the
// evaluator. Operators are stored as the function that computes them, so a
// running program never looks at a name or a text.

#include "genicam/formula_inline_vector.h"
#include "genicam/formula_value.h"

#include <cstdint>

namespace genicam::formula {

// An operator or function. It fails (returns false) only where the result is
// undefined: integer division or remainder by zero, INT64_MIN by -1.
using unary_evaluator = bool (*)(formula_value a, formula_value& result) noexcept;
using binary_evaluator = bool (*)(formula_value left, formula_value right, formula_value& result) noexcept;

enum class instruction_kind : std::uint32_t {
    push_integer = 0,
    push_float = 1,
    call_unary = 2,
    call_binary = 3,
    select = 4, // the "?" ":" operator
    load_variable = 5,
};

// Variable ids: the converter's input value, and the bound variables from 1000 on.
inline constexpr std::int64_t to_from_id = 512;
inline constexpr std::int64_t first_variable_id = 1000;

struct formula_instruction {
    instruction_kind kind = instruction_kind::push_integer;
    union {
        std::int64_t integer = 0; // push integer; load variable (the id)
        double real;              // push float
        unary_evaluator unary;
        binary_evaluator binary;
    };

    static formula_instruction push(formula_value v) noexcept
    {
        formula_instruction i;
        if (v.is_integer) {
            i.integer = v.integer();
        } else {
            i.kind = instruction_kind::push_float;
            i.real = v.real();
        }
        return i;
    }
    static formula_instruction call(unary_evaluator f) noexcept
    {
        formula_instruction i;
        i.kind = instruction_kind::call_unary;
        i.unary = f;
        return i;
    }
    static formula_instruction call(binary_evaluator f) noexcept
    {
        formula_instruction i;
        i.kind = instruction_kind::call_binary;
        i.binary = f;
        return i;
    }
    static formula_instruction select() noexcept
    {
        formula_instruction i;
        i.kind = instruction_kind::select;
        return i;
    }
    static formula_instruction load(std::int64_t id) noexcept
    {
        formula_instruction i;
        i.kind = instruction_kind::load_variable;
        i.integer = id;
        return i;
    }
};

// Programs of up to ten instructions stay inside their owner.
using formula_program = inline_vector<formula_instruction, 10>;

// No program grows past this many instructions: Expressions are expanded
// inline, and a chain of Expressions that each use the previous one twice
// would otherwise double the program at every step.
inline constexpr std::uint32_t max_program_size = 100000;

} // namespace genicam::formula
