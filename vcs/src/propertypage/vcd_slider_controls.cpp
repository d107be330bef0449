#include "propertypage/vcd_slider_controls.h"

#include <commctrl.h>
#include <richedit.h>

#include <atomic>

namespace VCDPropUI {

namespace {

constexpr DWORD slider_style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_NOTICKS; // 0x50010010
constexpr DWORD edit_style =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_SUNKEN | ES_WANTRETURN; // 0x50815000
constexpr DWORD spin_style = WS_CHILD | WS_VISIBLE;                              // 0x50000000
constexpr LPARAM edit_event_mask = 0x1081;

void show_parse_error(HWND edit)
{
    MessageBoxW(GetParent(edit), L"Error parsing value!", L"Error", MB_ICONERROR);
}

std::atomic<CVCDEdit::parse_error_reporter> parse_error_reporter_{&show_parse_error};

// Enabled exactly when the controller is available and not read-only; a
// controller that cannot say leaves the control disabled.
bool usable(const slider_controller_ptr& controller)
{
    bool available = false;
    bool read_only = true;
    return controller && controller->is_available(available) && available &&
           controller->is_read_only(read_only) && !read_only;
}

// A refresh of the page, handed through the control's controller to its item.
void begin_controller_refresh(ISliderController* controller)
{
    if (controller != nullptr) {
        controller->begin_refresh();
    }
}

void end_controller_refresh(ISliderController* controller)
{
    if (controller != nullptr) {
        controller->end_refresh();
    }
}

bool is_scroll_from(HWND self, UINT message, UINT direct, LPARAM lparam) noexcept
{
    return message == direct || (message == reflected_message_base + direct && reinterpret_cast<HWND>(lparam) == self);
}

} // namespace

CVCDSlider::CVCDSlider(slider_controller_ptr controller)
    : control_window(TRACKBAR_CLASSW, slider_style), controller_(std::move(controller))
{
}

bool CVCDSlider::create(HWND parent, const RECT& rect, HWND)
{
    return create_window(parent, rect, std::wstring{});
}

void CVCDSlider::init()
{
    int first = 0;
    int last = 0;
    if (controller_ && controller_->get_position_range(first, last)) {
        // The 32-bit messages: TBM_SETRANGE packs both ends into 16 bits.
        SendMessageW(hwnd(), TBM_SETRANGEMIN, FALSE, first);
        SendMessageW(hwnd(), TBM_SETRANGEMAX, TRUE, last);
    }
    update_state();
}

void CVCDSlider::begin_refresh()
{
    begin_controller_refresh(controller_.get());
}

void CVCDSlider::end_refresh()
{
    end_controller_refresh(controller_.get());
}

void CVCDSlider::update_state()
{
    EnableWindow(hwnd(), usable(controller_));
    update_value();
}

void CVCDSlider::update_value()
{
    int position = 0;
    if (controller_ && controller_->get_position(position)) {
        SendMessageW(hwnd(), TBM_SETPOS, TRUE, position);
    }
    InvalidateRect(hwnd(), nullptr, TRUE);
}

LRESULT CVCDSlider::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    if (is_scroll_from(hwnd(), message, WM_HSCROLL, lparam)) {
        handled = true;
        if (LOWORD(wparam) != TB_ENDTRACK && controller_) {
            const auto position = SendMessageW(hwnd(), TBM_GETPOS, 0, 0);
            controller_->set_position(static_cast<int>(position));
            tell_page_to_refresh();
        }
    }
    return 0;
}

void CVCDEdit::set_parse_error_reporter(parse_error_reporter reporter) noexcept
{
    parse_error_reporter_ = reporter != nullptr ? reporter : &show_parse_error;
}

CVCDEdit::CVCDEdit(slider_controller_ptr controller)
    : control_window(MSFTEDIT_CLASS, edit_style), controller_(std::move(controller))
{
}

bool CVCDEdit::create(HWND parent, const RECT& rect, HWND)
{
    if (!create_window(parent, rect, std::wstring{})) {
        return false;
    }
    SendMessageW(hwnd(), EM_SETEVENTMASK, 0, edit_event_mask);
    set_background(COLOR_BTNFACE);
    return true;
}

void CVCDEdit::set_background(int system_colour)
{
    SendMessageW(hwnd(), EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(GetSysColor(system_colour)));
}

void CVCDEdit::init()
{
    update_state();
}

void CVCDEdit::begin_refresh()
{
    begin_controller_refresh(controller_.get());
}

void CVCDEdit::end_refresh()
{
    end_controller_refresh(controller_.get());
}

void CVCDEdit::update_state()
{
    update_value();
    bool available = false;
    bool read_only = true;
    EnableWindow(hwnd(), controller_ && controller_->is_available(available) && available);
    if (!controller_ || !controller_->is_read_only(read_only)) {
        read_only = true;
    }
    SendMessageW(hwnd(), EM_SETREADONLY, read_only, 0);
}

void CVCDEdit::update_value()
{
    std::wstring text;
    if (!controller_ || !controller_->get_text(text)) {
        text.clear();
    }
    SetWindowTextW(hwnd(), text.c_str());
    shown_ = std::move(text);
}

void CVCDEdit::take_typed_text()
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd())) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd(), text.data(), static_cast<int>(text.size()))));
    if (text == shown_ || !controller_) {
        return;
    }
    if (!controller_->set_from_text(text) && !controller_->reads_as_value(text)) {
        parse_error_reporter_.load()(hwnd());
        return;
    }
    // Written, or refused by the camera: the refresh shows the camera's
    // value. Until then leaving the box again is no new change.
    shown_ = std::move(text);
    tell_page_to_refresh();
}

LRESULT CVCDEdit::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    switch (message) {
    case WM_SETFOCUS:
        if (usable(controller_)) {
            set_background(COLOR_WINDOW);
        }
        return 0; // default processing follows
    case WM_CHAR:
        if (wparam == 13) {
            handled = true;
            SendMessageW(GetParent(hwnd()), WM_NEXTDLGCTL, 0, FALSE);
        } else if (wparam < 0x2C || wparam > 0x39) {
            handled = true; // only digits, comma, minus, full stop and slash
        }
        return 0;
    case WM_GETDLGCODE:
        handled = true;
        return default_processing(message, wparam, lparam) | DLGC_WANTALLKEYS;
    case WM_KILLFOCUS: {
        const LRESULT result = default_processing(message, wparam, lparam);
        handled = true;
        take_typed_text();
        set_background(COLOR_BTNFACE);
        return result;
    }
    default:
        return 0;
    }
}

CVCDSpinButton::CVCDSpinButton(slider_controller_ptr controller)
    : control_window(UPDOWN_CLASSW, spin_style), controller_(std::move(controller))
{
}

bool CVCDSpinButton::create(HWND parent, const RECT& rect, HWND buddy)
{
    if (!create_window(parent, rect, std::wstring{})) {
        return false;
    }
    SendMessageW(hwnd(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    return true;
}

void CVCDSpinButton::init()
{
    int first = 0;
    int last = 0;
    if (controller_ && controller_->get_position_range(first, last)) {
        SendMessageW(hwnd(), UDM_SETRANGE32, static_cast<WPARAM>(first), last);
    }
    update_state();
}

void CVCDSpinButton::begin_refresh()
{
    begin_controller_refresh(controller_.get());
}

void CVCDSpinButton::end_refresh()
{
    end_controller_refresh(controller_.get());
}

void CVCDSpinButton::update_state()
{
    EnableWindow(hwnd(), usable(controller_));
    update_value();
}

void CVCDSpinButton::update_value()
{
    int position = 0;
    if (controller_ && controller_->get_position(position)) {
        SendMessageW(hwnd(), UDM_SETPOS32, 0, position);
    }
    InvalidateRect(hwnd(), nullptr, TRUE);
}

LRESULT CVCDSpinButton::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    if (is_scroll_from(hwnd(), message, WM_VSCROLL, lparam)) {
        handled = true;
        if (LOWORD(wparam) != SB_ENDSCROLL && controller_) {
            // The control's own position: its error flag speaks of the
            // buddy's text, which is no integer of its own here.
            const auto position = SendMessageW(hwnd(), UDM_GETPOS32, 0, 0);
            controller_->set_position(static_cast<int>(position));
            tell_page_to_refresh();
        }
    }
    return 0;
}

} // namespace VCDPropUI
