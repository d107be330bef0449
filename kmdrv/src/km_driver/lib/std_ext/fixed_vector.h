#pragma once
// Array whose capacity is fixed once, by reserve(): elements never move, so
// pointers to them stay valid for the array's lifetime (transfer slots are
// handed to the USB stack by address). Allocation failure is reported, never
// thrown.

#include <cstddef>
#include <new>
#include <utility>

namespace std_ext {

template <typename T>
class fixed_vector {
public:
    fixed_vector() = default;
    ~fixed_vector() { release(); }
    fixed_vector(const fixed_vector&) = delete;
    fixed_vector& operator=(const fixed_vector&) = delete;

    // Allocates room for `capacity` elements; false when memory runs out or
    // the array already has room.
    bool reserve(std::size_t capacity) noexcept
    {
        if (data_ != nullptr || capacity == 0) {
            return false;
        }
        data_ = static_cast<T*>(::operator new(capacity * sizeof(T), std::nothrow));
        if (data_ == nullptr) {
            return false;
        }
        capacity_ = capacity;
        return true;
    }

    // Constructs an element at the end; null when the array is full.
    template <typename... Args>
    T* emplace_back(Args&&... args) noexcept
    {
        if (size_ == capacity_) {
            return nullptr;
        }
        T* element = new (data_ + size_) T(std::forward<Args>(args)...);
        ++size_;
        return element;
    }

    // Destroys the elements and frees the room.
    void release() noexcept
    {
        clear();
        ::operator delete(data_);
        data_ = nullptr;
        capacity_ = 0;
    }

    void clear() noexcept
    {
        while (size_ != 0) {
            data_[--size_].~T();
        }
    }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t index) noexcept { return data_[index]; }
    const T& operator[](std::size_t index) const noexcept { return data_[index]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace std_ext
