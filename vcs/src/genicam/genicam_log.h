#pragma once
// The engine's own log: printf-style messages at level 1 (failures) or 2
// (warnings), formatted into a 2048-byte buffer and written to standard output.
// It does not go through the service's log pipeline.

#if defined(__MINGW32__) && !defined(__clang__)
#define GENICAM_PRINTF_FORMAT(fmt_index, args_index) __attribute__((format(gnu_printf, fmt_index, args_index)))
#else
#define GENICAM_PRINTF_FORMAT(fmt_index, args_index) __attribute__((format(printf, fmt_index, args_index)))
#endif

namespace GenICam::impl {

// True for levels below 3.
bool genicam_log_enabled(int level) noexcept;

void genicam_log_printf(int level, const char* format, ...) noexcept GENICAM_PRINTF_FORMAT(2, 3);

} // namespace GenICam::impl

// Formats and writes only when the level is enabled.
#define GENICAM_LOG(level, ...)                                                                                  \
    do {                                                                                                         \
        if (::GenICam::impl::genicam_log_enabled(level)) {                                                       \
            ::GenICam::impl::genicam_log_printf(level, __VA_ARGS__);                                             \
        }                                                                                                        \
    } while (false)
