#pragma once
// A vector of trivially copyable elements with N slots inside the object; it
// moves to the heap only when it outgrows them. Growth never throws: a failed
// allocation is reported as false and leaves the contents as they were.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace genicam::formula {

template <typename T, std::uint32_t N>
class inline_vector {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(N > 0);

public:
    // Sizes stay below 2^31 so that they fit the 32-bit size word.
    static constexpr std::uint32_t max_size = 0x7fffffffu;

    inline_vector() noexcept = default;
    ~inline_vector() { release(); }

    inline_vector(const inline_vector& other) noexcept { append(other.data(), other.size()); }
    inline_vector& operator=(const inline_vector& other) noexcept
    {
        if (this != &other) {
            clear();
            append(other.data(), other.size());
        }
        return *this;
    }
    inline_vector(inline_vector&& other) noexcept { take(other); }
    inline_vector& operator=(inline_vector&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }

    std::uint32_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    bool on_heap() const noexcept { return heap_ != nullptr; }
    std::uint32_t capacity() const noexcept { return heap_ ? capacity_ : N; }

    T* data() noexcept { return heap_ ? heap_ : inline_; }
    const T* data() const noexcept { return heap_ ? heap_ : inline_; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }
    T& operator[](std::uint32_t i) noexcept { return data()[i]; }
    const T& operator[](std::uint32_t i) const noexcept { return data()[i]; }
    T& back() noexcept { return data()[size_ - 1]; }

    bool reserve(std::uint64_t wanted) noexcept
    {
        if (wanted <= capacity()) {
            return true;
        }
        if (wanted > max_size) {
            return false;
        }
        T* grown = static_cast<T*>(::operator new(static_cast<std::size_t>(wanted) * sizeof(T), std::nothrow));
        if (!grown) {
            return false;
        }
        if (size_ != 0) {
            std::memcpy(static_cast<void*>(grown), data(), size_ * sizeof(T));
        }
        ::operator delete(heap_);
        heap_ = grown;
        capacity_ = static_cast<std::uint32_t>(wanted);
        return true;
    }

    bool push_back(const T& value) noexcept
    {
        if (size_ == capacity() && !grow(size_ + 1ull)) {
            return false;
        }
        data()[size_++] = value;
        return true;
    }

    bool append(const T* values, std::uint64_t count) noexcept
    {
        if (count == 0) {
            return true;
        }
        if (size_ + count > capacity() && !grow(size_ + count)) {
            return false;
        }
        std::memmove(static_cast<void*>(data() + size_), values, static_cast<std::size_t>(count) * sizeof(T));
        size_ += static_cast<std::uint32_t>(count);
        return true;
    }

    void pop_back() noexcept { --size_; }
    void clear() noexcept { size_ = 0; }

    // Gives back the heap block, as the owner's destroy step does.
    void release() noexcept
    {
        ::operator delete(heap_);
        heap_ = nullptr;
        capacity_ = 0;
        size_ = 0;
    }

private:
    bool grow(std::uint64_t needed) noexcept
    {
        std::uint64_t wanted = static_cast<std::uint64_t>(capacity()) * 2;
        if (wanted < needed) {
            wanted = needed;
        }
        if (wanted > max_size) {
            wanted = needed;
        }
        return reserve(wanted);
    }

    void take(inline_vector& other) noexcept
    {
        if (other.heap_) {
            heap_ = other.heap_;
            capacity_ = other.capacity_;
            size_ = other.size_;
            other.heap_ = nullptr;
            other.capacity_ = 0;
        } else {
            heap_ = nullptr;
            capacity_ = 0;
            size_ = other.size_;
            if (size_ != 0) {
                std::memcpy(static_cast<void*>(inline_), other.inline_, size_ * sizeof(T));
            }
        }
        other.size_ = 0;
    }

    T* heap_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
    T inline_[N];
};

} // namespace genicam::formula
