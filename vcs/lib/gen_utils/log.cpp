#include "gen_utils/log.h"

std::atomic<std::uint32_t> service_log_level{0};
std::atomic<std::uint32_t> log_category_mask{0};
std::array<log_sink, 2> log_sinks;

void log_write(std::uint32_t code, const char* text) noexcept
{
    for (const auto& sink : log_sinks) {
        if (!sink) {
            continue;
        }
        try {
            sink(code, text);
        } catch (...) {
        }
    }
}
