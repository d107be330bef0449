#include "propertypage/refresh_read_cache.h"

namespace VCDAdapterHelper {

void refresh_read_cache::end() noexcept
{
    if (depth_ > 0 && --depth_ == 0) {
        answers_.clear();
    }
}

void refresh_read_cache::keep(std::string_view key, std::int32_t result, std::span<const std::uint8_t> bytes) noexcept
{
    if (!active()) {
        return;
    }
    try {
        answer& kept = answers_[std::string(key)];
        kept.result = result;
        kept.bytes.assign(bytes.begin(), bytes.end());
    } catch (...) {
        // Half kept is not kept: the next reader asks the camera.
        if (const auto found = answers_.find(key); found != answers_.end()) {
            answers_.erase(found);
        }
    }
}

} // namespace VCDAdapterHelper
