#include "genicam/genicam_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace GenICam::impl {

namespace {

thread_local genicam_log_capture* active_capture = nullptr;

} // namespace

genicam_log_capture::genicam_log_capture() noexcept
    : previous_(active_capture)
{
    active_capture = this;
}

genicam_log_capture::~genicam_log_capture()
{
    active_capture = previous_;
    std::stable_sort(lines_.begin(), lines_.end(), [](const line& a, const line& b) { return a.key < b.key; });
    for (const line& l : lines_) {
        std::fwrite(l.text.data(), 1, l.text.size(), stdout);
    }
}

void genicam_log_capture::add(const char* text)
{
    try {
        lines_.push_back({key_, text});
    } catch (...) {
        // Out of memory: the line is written at once rather than lost.
        std::printf("%s", text);
    }
}

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
    if (active_capture != nullptr) {
        active_capture->add(text);
    } else {
        std::printf("%s", text);
    }
}

} // namespace GenICam::impl
