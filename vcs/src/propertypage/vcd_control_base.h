#pragma once
// A dialog control of a property page: a Win32 window of a superclass of one
// system class, and the page's handle on it. The page keeps its controls by
// shared reference; each control reads its state from its item (or slider
// controller), writes user changes at once and then posts refresh_controls
// to the page, which makes every control read its state again.

#include <windows.h>

#include <memory>
#include <span>
#include <string>

namespace VCDPropUI {

// Posted by a control to its page after it changed a value.
inline constexpr UINT refresh_controls = WM_USER + 5; // 0x0405
// A page hands a child's notification back to it as this plus the message.
inline constexpr UINT reflected_message_base = 0x2000;

class CVCDControlBase {
public:
    virtual ~CVCDControlBase() = default;

    // Makes the window in `rect` as a child of `parent`; `buddy` is the edit
    // box that a spin button drives. False when no window came.
    virtual bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) = 0;
    virtual void init() = 0;
    virtual void update_state() = 0;
    virtual void update_value() = 0;
    // Around a refresh of the page: begin_refresh lets the control's item
    // drop what it keeps of the camera and then answer each property it
    // reads once, until end_refresh.
    virtual void begin_refresh() {}
    virtual void end_refresh() {}

    virtual HWND window() const noexcept = 0;
};

// The page's refresh after a change: every control reads its state again,
// inside one refresh of every item behind them.
void refresh_all(std::span<const std::shared_ptr<CVCDControlBase>> controls);

// The window half of a control: registers one superclass per system class
// (once per process), creates the window with the object attached to it and
// hands its messages to handle_message; the rest go to the system class. The
// object owns its window: destroying the object destroys a window still there.
class control_window {
public:
    control_window(const control_window&) = delete;
    control_window& operator=(const control_window&) = delete;

    HWND hwnd() const noexcept { return hwnd_; }

    // Drops the superclasses; for the module's unload, when no control lives.
    static void unregister_classes() noexcept;

protected:
    control_window(const wchar_t* system_class, DWORD style) noexcept;
    virtual ~control_window();

    // Creates the window and gives it the parent's font.
    bool create_window(HWND parent, const RECT& rect, const std::wstring& caption);
    // Messages of this window; `handled` false passes one to the system class.
    virtual LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) = 0;
    LRESULT default_processing(UINT message, WPARAM wparam, LPARAM lparam);
    void tell_page_to_refresh() const;

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    const wchar_t* system_class_;
    DWORD style_;
    HWND hwnd_ = nullptr;
};

} // namespace VCDPropUI
