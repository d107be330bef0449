#pragma once
// An owning COM interface pointer: released when it goes.

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace atl {

template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes over a reference that the caller owns.
    explicit com_ptr(T* owned) noexcept : pointer_(owned) {}
    com_ptr(const com_ptr& other) noexcept : pointer_(other.pointer_)
    {
        if (pointer_ != nullptr) {
            pointer_->AddRef();
        }
    }
    com_ptr(com_ptr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    com_ptr& operator=(com_ptr other) noexcept
    {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~com_ptr() { reset(); }

    void reset() noexcept
    {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }
    // For out parameters: releases what is held and gives the slot.
    T** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T* detach() noexcept { return std::exchange(pointer_, nullptr); }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

private:
    T* pointer_ = nullptr;
};

} // namespace atl
