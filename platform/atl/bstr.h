#pragma once
// An owning BSTR: freed with SysFreeString when it goes.

#include <windows.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace atl {

class bstr {
public:
    bstr() noexcept = default;
    // Copies the text; an allocation failure leaves the object empty (null).
    explicit bstr(std::wstring_view text) noexcept
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    bstr(const bstr& other) noexcept : bstr(other.view()) {}
    bstr(bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    bstr& operator=(bstr other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }
    ~bstr() { SysFreeString(value_); }

    BSTR get() const noexcept { return value_; }
    BSTR detach() noexcept { return std::exchange(value_, nullptr); }
    std::wstring_view view() const noexcept
    {
        return value_ == nullptr ? std::wstring_view{} : std::wstring_view{value_, SysStringLen(value_)};
    }
    explicit operator bool() const noexcept { return value_ != nullptr; }

private:
    BSTR value_ = nullptr;
};

} // namespace atl
