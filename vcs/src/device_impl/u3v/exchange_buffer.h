#pragma once
// A byte buffer for one command or acknowledge: up to N bytes inline, larger
// ones on the heap. Always zero-filled, so that bytes a device did not send
// read as zero. Allocation failure is reported, not thrown.

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace u3v_com {

template <std::size_t N>
class exchange_buffer {
public:
    // False when the heap could not provide `size` bytes.
    bool resize(std::size_t size) noexcept
    {
        size_ = 0;
        if (size <= N) {
            inline_.fill(0);
            heap_.clear();
            size_ = size;
            return true;
        }
        try {
            heap_.assign(size, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        size_ = size;
        return true;
    }
    std::uint8_t* data() noexcept { return size_ <= N ? inline_.data() : heap_.data(); }
    const std::uint8_t* data() const noexcept { return size_ <= N ? inline_.data() : heap_.data(); }
    std::size_t size() const noexcept { return size_; }
    std::span<std::uint8_t> span() noexcept { return {data(), size_}; }

private:
    std::array<std::uint8_t, N> inline_{};
    std::vector<std::uint8_t> heap_;
    std::size_t size_ = 0;
};

} // namespace u3v_com
