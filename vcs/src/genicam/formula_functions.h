#pragma once
// What every operator and function of the formula language computes.

#include "genicam/formula_program.h"

#include <cstdint>
#include <string_view>

namespace genicam::formula {

// Token codes of the operators (the tokenizer's codes 0-20; 1 is the prefix
// minus, which only the parser produces).
enum token_code : std::uint32_t {
    tk_complement = 0,
    tk_negate = 1,
    tk_plus = 2,
    tk_minus = 3,
    tk_multiply = 4,
    tk_divide = 5,
    tk_remainder = 6,
    tk_power = 7,
    tk_greater = 8,
    tk_greater_equal = 9,
    tk_less = 10,
    tk_less_equal = 11,
    tk_equal = 12,
    tk_not_equal = 13,
    tk_logical_and = 14,
    tk_logical_or = 15,
    tk_bit_and = 16,
    tk_bit_or = 17,
    tk_bit_xor = 18,
    tk_shift_right = 19,
    tk_shift_left = 20,
    tk_number = 21,
    tk_name = 22,
    tk_function = 23,
    tk_open = 24,
    tk_close = 25,
    tk_question = 26,
    tk_colon = 27,
    tk_comma = 28,
    tk_end = 29,
};

// The instruction that applies an operator: codes 0 and 1 are the one-operand
// complement and negation, codes 2-20 the two-operand operators. Any other
// code gives a push of 0 (the parser never asks for one).
formula_instruction lookup_operator(std::uint32_t code) noexcept;

// The functions by their exact, case-sensitive name; null when unknown.
unary_evaluator find_unary_function(std::string_view name) noexcept;
binary_evaluator find_binary_function(std::string_view name) noexcept;

} // namespace genicam::formula
