#include "genicam/genicam_log.h"

#include <cstdarg>
#include <cstdio>

namespace GenICam::impl {

bool genicam_log_enabled(int level) noexcept
{
    return level < 3;
}

void genicam_log_printf(int /*level*/, const char* format, ...) noexcept
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    const char* text = written < 0 || written >= static_cast<int>(sizeof(buffer)) ? "Failed to format log message"
                                                                                  : buffer;
    std::printf("%s", text);
}

} // namespace GenICam::impl
