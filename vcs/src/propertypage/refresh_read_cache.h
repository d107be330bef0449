#pragma once
// What one refresh of a page's controls has read from the camera. The
// controls of an item ask it for the same properties (a slider, its edit box
// and its spin button each read the value and whether it may be changed);
// while a refresh runs, the answer of each request (its result code and the
// bytes that came back, a failure included) is kept under the request's key
// and given to every later reader, so that the camera is asked once. Outside
// a refresh nothing is kept and every read goes to the camera. A write drops
// what was kept. Used on the page's thread only.

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace VCDAdapterHelper {

class refresh_read_cache {
public:
    // Refreshes nest (the controls of one item each start one); the last end
    // drops every answer.
    void begin() noexcept { ++depth_; }
    void end() noexcept;
    bool active() const noexcept { return depth_ > 0; }
    // A write: nothing read before it is answered again.
    void forget() noexcept { answers_.clear(); }

    // The answer of `key`: what `read` (filling `bytes`, answering a result
    // code) gave the first time in this refresh. `read` runs each time
    // outside a refresh, and when an answer cannot be kept.
    template <class Read>
    std::int32_t read_once(std::string_view key, std::span<std::uint8_t> bytes, Read&& read)
    {
        if (active()) {
            const auto found = answers_.find(key);
            if (found != answers_.end() && found->second.bytes.size() == bytes.size()) {
                if (!bytes.empty()) {
                    std::memcpy(bytes.data(), found->second.bytes.data(), bytes.size());
                }
                return found->second.result;
            }
        }
        const std::int32_t result = std::invoke(read, bytes);
        keep(key, result, bytes);
        return result;
    }

    std::size_t kept() const noexcept { return answers_.size(); }

private:
    struct answer {
        std::int32_t result = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Only while a refresh runs; out of memory keeps nothing.
    void keep(std::string_view key, std::int32_t result, std::span<const std::uint8_t> bytes) noexcept;

    int depth_ = 0;
    std::map<std::string, answer, std::less<>> answers_;
};

// A request's key: a tag naming the channel, then the bytes of each part.
template <class... Parts>
std::string request_key(char tag, const Parts&... parts)
{
    std::string key(1, tag);
    (key.append(reinterpret_cast<const char*>(&parts), sizeof(parts)), ...);
    return key;
}

} // namespace VCDAdapterHelper
