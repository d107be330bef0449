#pragma once
// The driver's debug-print lines: every line starts with "[nox_km]" and is
// printed only when the configured level reaches the line's level; lines of a
// category also need that category's bit.

#include <km_kernel.h>

namespace noxkm {

inline constexpr ULONG log_error = 1;
inline constexpr ULONG log_warning = 2;
inline constexpr ULONG log_info = 3;
inline constexpr ULONG log_trace = 4;
// Per-transfer lines of the bulk pipes.
inline constexpr ULONG log_category_transfers = 0x20000;

// Bits 0-7 level, bits 16-31 category mask; 0 prints nothing.
extern volatile ULONG log_setting;

inline bool log_enabled(ULONG level, ULONG category = 0)
{
    const ULONG setting = log_setting;
    return (setting & 0xFF) >= level && (category == 0 || (setting & category) != 0);
}

// Prints at the debug-print level that belongs to the driver's level.
void log_print(ULONG level, PCSTR format, ...);

} // namespace noxkm

#define NOXKM_LOG(level, format, ...)                                   \
    do {                                                                \
        if (noxkm::log_enabled(level)) {                                \
            noxkm::log_print(level, "[nox_km]" format, ##__VA_ARGS__);  \
        }                                                               \
    } while (0)

#define NOXKM_LOG_TRANSFER(format, ...)                                                      \
    do {                                                                                     \
        if (noxkm::log_enabled(noxkm::log_info, noxkm::log_category_transfers)) {            \
            noxkm::log_print(noxkm::log_info, "[nox_km]" format, ##__VA_ARGS__);             \
        }                                                                                    \
    } while (0)
