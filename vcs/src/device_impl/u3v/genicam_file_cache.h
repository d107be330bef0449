#pragma once
// GenICam files already fetched in this process, keyed by the 20-byte hash
// that the camera's manifest entry carries. Entries are only added, never
// replaced or evicted. Lookup and insert copy the bytes under the cache's
// lock, so nothing inside the cache is ever shared.
//
// An all-zero hash means the entry carries no hash at all: two different
// files could share it, so such a key is never looked up nor stored.

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace u3v_com {

using file_hash = std::array<std::uint8_t, 20>;

class genicam_file_cache {
public:
    // The one cache of the process.
    static genicam_file_cache& process_cache();

    // A copy of the bytes stored under `hash`; empty when absent.
    std::vector<std::uint8_t> lookup(const file_hash& hash) const;
    // Stores a copy of `bytes` unless `hash` is present already.
    void insert(const file_hash& hash, const std::vector<std::uint8_t>& bytes);

    static bool is_usable_key(const file_hash& hash) noexcept;

private:
    mutable std::mutex lock_;
    std::map<file_hash, std::vector<std::uint8_t>> files_; // array ordering is bytewise
};

} // namespace u3v_com
