#include "gen_utils/debug_output_sink.h"

#include <windows.h>

#include "gen_utils/log.h"

namespace utils {

void debug_output_sink(std::uint32_t, const char* text) noexcept
{
    OutputDebugStringA(text);
}

void install_debug_output_sink()
{
    set_log_sink(0, debug_output_sink);
}

} // namespace utils
