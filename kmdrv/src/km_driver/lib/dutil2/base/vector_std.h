#pragma once
// Growable array that keeps its order. When it runs out of room it grows to
// one and a half times the size asked for. Allocation failure is reported by
// the result, never thrown; an all-zero object is a valid empty array.

#include <cstddef>
#include <new>
#include <utility>

namespace dutil2 {

template <typename T>
class vector_std {
public:
    vector_std() = default;
    ~vector_std() { release(); }
    vector_std(const vector_std&) = delete;
    vector_std& operator=(const vector_std&) = delete;

    // Makes room for at least `count` elements; false when memory runs out.
    bool reserve(std::size_t count) noexcept
    {
        if (count <= capacity_) {
            return true;
        }
        const std::size_t grown = count + count / 2;
        T* room = static_cast<T*>(::operator new(grown * sizeof(T), std::nothrow));
        if (room == nullptr) {
            return false;
        }
        for (std::size_t i = 0; i < size_; ++i) {
            new (room + i) T(std::move(data_[i]));
            data_[i].~T();
        }
        ::operator delete(data_);
        data_ = room;
        capacity_ = grown;
        return true;
    }

    bool push_back(T value) noexcept
    {
        if (!reserve(size_ + 1)) {
            return false;
        }
        new (data_ + size_) T(std::move(value));
        ++size_;
        return true;
    }

    // Grows to `count` elements, new ones value-initialised; false when memory runs out.
    bool resize(std::size_t count) noexcept
    {
        if (!reserve(count)) {
            return false;
        }
        while (size_ < count) {
            new (data_ + size_) T();
            ++size_;
        }
        while (size_ > count) {
            data_[--size_].~T();
        }
        return true;
    }

    // Removes the element at `index`; the later ones move up by one.
    void erase_at(std::size_t index) noexcept
    {
        if (index >= size_) {
            return;
        }
        for (std::size_t i = index; i + 1 < size_; ++i) {
            data_[i] = std::move(data_[i + 1]);
        }
        data_[--size_].~T();
    }

    void clear() noexcept
    {
        while (size_ != 0) {
            data_[--size_].~T();
        }
    }

    void release() noexcept
    {
        clear();
        ::operator delete(data_);
        data_ = nullptr;
        capacity_ = 0;
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

} // namespace dutil2
