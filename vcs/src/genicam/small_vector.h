#pragma once
// A vector of trivially copyable elements with N inline slots. The 32-bit size
// word carries the element count in bits 0-30; bit 31 marks heap storage.
// Growth never throws: a failed allocation leaves the vector unchanged and is
// reported by the result of the growing call.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

namespace GenICam::impl {

template <class T, std::uint32_t N>
class small_vector {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "small_vector holds plain records and pointers only");
    static_assert(N > 0);

public:
    static constexpr std::uint32_t heap_bit = 0x80000000u;
    static constexpr std::uint32_t max_size = 0x7fffffffu;

    small_vector() noexcept = default;
    small_vector(const small_vector&) = delete;
    small_vector& operator=(const small_vector&) = delete;
    ~small_vector() { release(); }

    std::uint32_t size() const noexcept { return size_word_ & max_size; }
    bool empty() const noexcept { return size() == 0; }
    bool on_heap() const noexcept { return (size_word_ & heap_bit) != 0; }
    std::uint32_t capacity() const noexcept { return on_heap() ? storage_.heap.capacity : N; }

    T* data() noexcept { return on_heap() ? storage_.heap.ptr : storage_.slots; }
    const T* data() const noexcept { return on_heap() ? storage_.heap.ptr : storage_.slots; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size(); }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size(); }
    T& operator[](std::uint32_t i) noexcept { return data()[i]; }
    const T& operator[](std::uint32_t i) const noexcept { return data()[i]; }
    std::span<T> span() noexcept { return {data(), size()}; }
    std::span<const T> span() const noexcept { return {data(), size()}; }

    bool contains(const T& value) const noexcept
    {
        return std::find(begin(), end(), value) != end();
    }

    // Makes room for exactly `count` elements; false when that memory cannot
    // be had (the vector is then unchanged).
    bool reserve(std::uint32_t count) noexcept
    {
        if (count <= capacity()) {
            return true;
        }
        if (count > max_size) {
            return false;
        }
        auto* fresh = static_cast<T*>(
            ::operator new(sizeof(T) * std::size_t{count}, std::align_val_t{alignof(T)}, std::nothrow));
        if (fresh == nullptr) {
            return false;
        }
        const std::uint32_t n = size();
        if (n != 0) {
            std::memcpy(static_cast<void*>(fresh), data(), sizeof(T) * n);
        }
        free_heap();
        storage_.heap.ptr = fresh;
        storage_.heap.capacity = count;
        size_word_ = n | heap_bit;
        return true;
    }

    bool push_back(const T& value) noexcept
    {
        const std::uint32_t n = size();
        if (n == capacity()) {
            if (n == max_size) {
                return false;
            }
            const std::uint32_t grown = n > max_size / 2 ? max_size : std::max<std::uint32_t>(n * 2, N);
            // Exact growth is the fallback when the doubled block cannot be had.
            if (!reserve(grown) && !reserve(n + 1)) {
                return false;
            }
        }
        data()[n] = value;
        size_word_ = (size_word_ & heap_bit) | (n + 1);
        return true;
    }

    // Appends unless already present; false only when growth failed.
    bool push_back_unique(const T& value) noexcept { return contains(value) || push_back(value); }

    void clear() noexcept { size_word_ &= heap_bit; }

    // Frees heap storage; the vector is empty with its inline slots afterwards.
    void release() noexcept
    {
        free_heap();
        size_word_ = 0;
    }

private:
    void free_heap() noexcept
    {
        if (on_heap()) {
            ::operator delete(static_cast<void*>(storage_.heap.ptr), std::align_val_t{alignof(T)});
            storage_.heap.ptr = nullptr;
            storage_.heap.capacity = 0;
            size_word_ &= ~heap_bit;
        }
    }

    union storage {
        T slots[N];
        struct {
            T* ptr;
            std::uint32_t capacity;
        } heap;
        storage() noexcept : slots{} {}
    } storage_;
    std::uint32_t size_word_ = 0;
};

} // namespace GenICam::impl
