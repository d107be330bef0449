#include "device_impl/u3v/genicam_file_cache.h"

#include <algorithm>

namespace u3v_com {

genicam_file_cache& genicam_file_cache::process_cache()
{
    static genicam_file_cache cache;
    return cache;
}

bool genicam_file_cache::is_usable_key(const file_hash& hash) noexcept
{
    return std::any_of(hash.begin(), hash.end(), [](std::uint8_t b) { return b != 0; });
}

std::vector<std::uint8_t> genicam_file_cache::lookup(const std::string& model, const file_hash& hash) const
{
    if (!is_usable_key(hash)) {
        return {};
    }
    std::lock_guard guard(lock_);
    const auto found = files_.find({model, hash});
    return found == files_.end() ? std::vector<std::uint8_t>{} : found->second;
}

void genicam_file_cache::insert(const std::string& model, const file_hash& hash,
                                const std::vector<std::uint8_t>& bytes)
{
    if (!is_usable_key(hash) || bytes.empty()) {
        return;
    }
    std::lock_guard guard(lock_);
    files_.try_emplace({model, hash}, bytes);
}

} // namespace u3v_com
