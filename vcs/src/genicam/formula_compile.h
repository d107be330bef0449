#pragma once
// Compiles a formula and writes the engine's log lines when it fails.

#include "genicam/formula_parser.h"
#include "genicam/genicam_types.h"

#include <string_view>

namespace genicam::formula {

// The program, or 0x80000103 after logging where the text went wrong.
GenICam::result<formula_program> parse_and_compile(std::string_view text, const formula_name_resolver& resolver);

} // namespace genicam::formula
