#pragma once
// An owning reference to an item-data object, counted through its inner
// unknown. Copies add a reference; the last one to go deletes the object.

#include "propertypage/vcd_item_data_base.h"

#include <utility>

class item_data_ptr {
public:
    item_data_ptr() noexcept = default;
    // Takes over a reference the caller owns (a new object's first one).
    explicit item_data_ptr(VCDAdapterHelper::CVCDItemDataBase* owned) noexcept : item_(owned) {}
    item_data_ptr(const item_data_ptr& other) noexcept : item_(other.item_)
    {
        if (item_ != nullptr) {
            item_->NonDelegatingAddRef();
        }
    }
    item_data_ptr(item_data_ptr&& other) noexcept : item_(std::exchange(other.item_, nullptr)) {}
    item_data_ptr& operator=(item_data_ptr other) noexcept
    {
        std::swap(item_, other.item_);
        return *this;
    }
    ~item_data_ptr() { reset(); }

    void reset() noexcept
    {
        if (auto* old = std::exchange(item_, nullptr)) {
            old->NonDelegatingRelease();
        }
    }
    VCDAdapterHelper::CVCDItemDataBase* get() const noexcept { return item_; }
    VCDAdapterHelper::CVCDItemDataBase* operator->() const noexcept { return item_; }
    explicit operator bool() const noexcept { return item_ != nullptr; }

private:
    VCDAdapterHelper::CVCDItemDataBase* item_ = nullptr;
};

// A new item of class T with its first reference; none when out of memory or
// when T's constructor fails.
template <class T, class... Args>
item_data_ptr make_item(Args&&... args) noexcept
{
    try {
        return item_data_ptr(new T(std::forward<Args>(args)...));
    } catch (...) {
        return {};
    }
}
