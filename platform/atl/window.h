#pragma once
// Stand-ins for the window classes of the template library that the property
// pages build on: a window handle holder and a modeless dialog from a dialog
// template whose messages go to the derived class.

#include <windows.h>

namespace ATL {

// A window handle with the few operations the pages use. It does not own the
// window: the object that creates one destroys it.
class CWindow {
public:
    HWND m_hWnd = nullptr;

    bool IsWindow() const noexcept { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
    BOOL DestroyWindow() noexcept { return ::DestroyWindow(m_hWnd); }
    LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const noexcept
    {
        return ::SendMessageW(m_hWnd, message, wparam, lparam);
    }
};

// A modeless dialog made from template T::IDD of `module`. T provides
//   bool ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT& result)
// which answers whether it handled the message.
template <class T, class TBase = CWindow>
class CDialogImpl : public TBase {
public:
    HWND Create(HWND parent, HINSTANCE module, LPARAM = 0)
    {
        return CreateDialogParamW(module, MAKEINTRESOURCEW(T::IDD), parent, &CDialogImpl::dialog_proc,
                                  reinterpret_cast<LPARAM>(this));
    }

private:
    // Messages whose result a dialog procedure returns itself instead of
    // through DWLP_MSGRESULT.
    static bool returns_result_directly(UINT message) noexcept
    {
        switch (message) {
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
        }
    }

    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<CDialogImpl*>(lparam);
            self->m_hWnd = window;
            SetWindowLongPtrW(window, DWLP_USER, lparam);
        }
        auto* self = reinterpret_cast<CDialogImpl*>(GetWindowLongPtrW(window, DWLP_USER));
        if (self == nullptr) {
            return FALSE;
        }
        LRESULT result = 0;
        const bool handled = static_cast<T*>(self)->ProcessWindowMessage(window, message, wparam, lparam, result);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(window, DWLP_USER, 0);
            self->m_hWnd = nullptr;
        }
        if (!handled) {
            return FALSE;
        }
        if (returns_result_directly(message)) {
            return static_cast<INT_PTR>(result);
        }
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
};

} // namespace ATL
