#pragma once
// Maps between what a slider, an edit box and a spin button show (positions
// and texts) and the value of one element of an item. Shared by the three
// controls of one element; reference-counted, the count starting at 1 for the
// creator.

#include <atomic>
#include <string>
#include <string_view>
#include <utility>

namespace VCDPropUI {

class ISliderController {
public:
    virtual ~ISliderController() = default;

    // Interlocked: the count is the only thing controls on other threads
    // could touch.
    virtual long AddRef() noexcept { return ++references_; }
    virtual long Release() noexcept
    {
        const long left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // Every operation below answers a success flag and writes its out values
    // only on success.
    virtual bool get_position_range(int& first, int& last) = 0;
    virtual bool set_position(int position) = 0;
    virtual bool get_position(int& position) = 0;
    virtual bool is_read_only(bool& read_only) = 0;
    virtual bool is_available(bool& available) = 0;
    virtual bool set_from_text(std::wstring_view text) = 0;
    // True when set_from_text would write a value for `text`; writes nothing.
    // Tells a text that does not parse from a value the item refused.
    virtual bool reads_as_value(std::wstring_view text) = 0;
    virtual bool get_text(std::wstring& text) = 0;
    // A refresh of the page's controls, handed to the item.
    virtual void begin_refresh() {}
    virtual void end_refresh() {}

protected:
    ISliderController() = default;
    ISliderController(const ISliderController&) = delete;
    ISliderController& operator=(const ISliderController&) = delete;

private:
    std::atomic<long> references_{1};
};

// An owning reference to a controller.
class slider_controller_ptr {
public:
    slider_controller_ptr() noexcept = default;
    // Takes over a reference the caller owns (a new controller's first one).
    explicit slider_controller_ptr(ISliderController* owned) noexcept : controller_(owned) {}
    slider_controller_ptr(const slider_controller_ptr& other) noexcept : controller_(other.controller_)
    {
        if (controller_ != nullptr) {
            controller_->AddRef();
        }
    }
    slider_controller_ptr(slider_controller_ptr&& other) noexcept
        : controller_(std::exchange(other.controller_, nullptr))
    {
    }
    slider_controller_ptr& operator=(slider_controller_ptr other) noexcept
    {
        std::swap(controller_, other.controller_);
        return *this;
    }
    ~slider_controller_ptr()
    {
        if (controller_ != nullptr) {
            controller_->Release();
        }
    }

    ISliderController* get() const noexcept { return controller_; }
    ISliderController* operator->() const noexcept { return controller_; }
    explicit operator bool() const noexcept { return controller_ != nullptr; }

private:
    ISliderController* controller_ = nullptr;
};

} // namespace VCDPropUI
