#pragma once
// GenICam files already fetched in this process, keyed by the camera's model
// and the 20-byte hash that its manifest entry carries: a camera that reports
// the same hash for every file must not get another model's file. Entries are
// only added, never
// replaced or evicted. Lookup and insert copy the bytes under the cache's
// lock, so nothing inside the cache is ever shared.
//
// An all-zero hash means the entry carries no hash at all: two different
// files could share it, so such a key is never looked up nor stored.

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace u3v_com {

using file_hash = std::array<std::uint8_t, 20>;

class genicam_file_cache {
public:
    // The one cache of the process.
    static genicam_file_cache& process_cache();

    // A copy of the bytes stored for `model` under `hash`; empty when absent.
    std::vector<std::uint8_t> lookup(const std::string& model, const file_hash& hash) const;
    // Stores a copy of `bytes` unless the key is present already.
    void insert(const std::string& model, const file_hash& hash, const std::vector<std::uint8_t>& bytes);

    static bool is_usable_key(const file_hash& hash) noexcept;

private:
    mutable std::mutex lock_;
    // Guarded by lock_; array ordering is bytewise.
    std::map<std::pair<std::string, file_hash>, std::vector<std::uint8_t>> files_;
};

} // namespace u3v_com
