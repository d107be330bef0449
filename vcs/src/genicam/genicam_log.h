#pragma once
// The engine's own log: printf-style messages at level 1 (failures) or 2
// (warnings), formatted into a 2048-byte buffer and written to standard output
// (or collected by a genicam_log_capture).
// It does not go through the service's log pipeline.

#if defined(__MINGW32__) && !defined(__clang__)
#define GENICAM_PRINTF_FORMAT(fmt_index, args_index) __attribute__((format(gnu_printf, fmt_index, args_index)))
#else
#define GENICAM_PRINTF_FORMAT(fmt_index, args_index) __attribute__((format(printf, fmt_index, args_index)))
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace GenICam::impl {

// While one exists, the engine's log lines of its thread are collected instead
// of written, each with the order key current when it was logged. When it
// ends, the lines are written in key order (lines of one key in the order
// they were logged). The document uses it to resolve its nodes
// in the order their elements lie in memory while the log reads as if they
// had been resolved in name order.
class genicam_log_capture {
public:
    genicam_log_capture() noexcept;
    genicam_log_capture(const genicam_log_capture&) = delete;
    genicam_log_capture& operator=(const genicam_log_capture&) = delete;
    ~genicam_log_capture();

    void set_key(std::uint32_t key) noexcept { key_ = key; }
    // Called by the log for every enabled line.
    void add(const char* text);

private:
    struct line {
        std::uint32_t key;
        std::string text;
    };
    std::vector<line> lines_;
    std::uint32_t key_ = 0;
    genicam_log_capture* previous_;
};

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
