#include "gen_utils/log.h"

#include <array>
#include <mutex>
#include <shared_mutex>

std::atomic<std::uint32_t> service_log_level{0};
std::atomic<std::uint32_t> log_category_mask{0};

namespace {
// Writers hold it shared while they call sinks, set_log_sink exclusively while
// it swaps one: a line costs one uncontended shared lock once the filter passed.
std::shared_mutex sinks_lock;
std::array<log_sink, log_sink_slots> sinks; // guarded by sinks_lock
} // namespace

void set_log_sink(std::size_t slot, log_sink sink)
{
    log_sink old;
    {
        std::unique_lock lock(sinks_lock);
        old = std::exchange(sinks.at(slot), std::move(sink));
    }
    // `old` dies here, outside the lock: what it captured may log as it goes.
}

void log_write(std::uint32_t code, const char* text) noexcept
{
    try {
        std::shared_lock lock(sinks_lock);
        for (const auto& sink : sinks) {
            if (!sink) {
                continue;
            }
            try {
                sink(code, text);
            } catch (...) {
            }
        }
    } catch (...) { // the lock itself failed: the line is dropped
    }
}
