#pragma once
// The service's logging pipeline: a 32-bit log code (level in bits 0-7,
// category bits in 16-23) passes one filter before anything is formatted; the
// finished line goes, on the writing thread, to a table of two sinks.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <utility>

#include <fmt/format.h>

namespace logging {
inline constexpr std::uint32_t level_bits = 0xFFu;
inline constexpr std::uint32_t category_bits = 0xFF0000u;

inline constexpr std::uint32_t level_error = 1;    // failures
inline constexpr std::uint32_t level_warning = 2;  // life-cycle events, recoverable problems
inline constexpr std::uint32_t level_trace = 3;    // normal operation
inline constexpr std::uint32_t level_ks_trace = 4; // every KS call on a device handle

inline constexpr std::uint32_t cat_control_channel = 0x10000;  // camera control-channel registers
inline constexpr std::uint32_t cat_named_requests = 0x20000;   // named GenICam feature requests
inline constexpr std::uint32_t cat_uvc_requests = 0x40000;     // UVC control requests
inline constexpr std::uint32_t cat_persistence = 0x80000;      // feature values saved and loaded
inline constexpr std::uint32_t cat_ks_calls = 0x100000;        // KS calls on device handles
} // namespace logging

// Configured level: only the low byte is ever stored. 0 lets nothing through.
extern std::atomic<std::uint32_t> service_log_level;
// Enabled category bits.
extern std::atomic<std::uint32_t> log_category_mask;

using log_sink = std::function<void(std::uint32_t code, const char* text)>;
// Slot 0 holds the debugger-output sink in the service; slot 1 is free (tests
// capture lines there).
inline constexpr std::size_t log_sink_slots = 2;

// Puts `sink` into `slot` (an empty one clears it); throws std::out_of_range
// for a slot past the table. Safe while other threads log: it waits until no
// thread is inside any sink, so once it returns the old sink is never called
// again and may capture objects that die right after; every later line goes to
// the new one. A sink runs while log_write holds the table shared, so it must
// neither log nor set a sink itself.
void set_log_sink(std::size_t slot, log_sink sink);

// True when the level of `code` is at most the configured level and, if
// `code` carries category bits, at least one of them is enabled.
[[nodiscard]] inline bool log_enabled(std::uint32_t code) noexcept
{
    const std::uint32_t level = code & logging::level_bits;
    if (level > service_log_level.load(std::memory_order_relaxed)) {
        return false;
    }
    const std::uint32_t categories = code & logging::category_bits;
    return categories == 0 || (categories & log_category_mask.load(std::memory_order_relaxed)) != 0;
}

// Hands a finished line to every filled sink. Never throws.
void log_write(std::uint32_t code, const char* text) noexcept;

// Formats and writes one line when the filter lets `code` through. A failure
// to format or allocate is swallowed: logging never fails its caller.
template <typename... Args>
void log_line(std::uint32_t code, fmt::format_string<Args...> format, Args&&... args) noexcept
{
    if (!log_enabled(code)) {
        return;
    }
    try {
        const std::string text = fmt::format(format, std::forward<Args>(args)...);
        log_write(code, text.c_str());
    } catch (...) {
    }
}

// An error code in a log line reads ec="<message of its category>".
template <>
struct fmt::formatter<std::error_code> {
    constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
    template <typename FormatContext>
    auto format(const std::error_code& ec, FormatContext& ctx) const
    {
        return fmt::format_to(ctx.out(), "ec=\"{}\"", ec.message());
    }
};
