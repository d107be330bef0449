#pragma once
#include <cstdint>

namespace utils {
// Writes a log line to the debugger output; the code is not used.
void debug_output_sink(std::uint32_t code, const char* text) noexcept;
// Puts the debugger-output sink into slot 0 of the sink table.
void install_debug_output_sink();
} // namespace utils
