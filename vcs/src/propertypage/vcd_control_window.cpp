#include "propertypage/vcd_control_base.h"

#include <memory>
#include <mutex>
#include <vector>

namespace VCDPropUI {

namespace {

struct superclass {
    std::wstring system_class;
    std::wstring name;
    ATOM atom = 0;
    WNDPROC system_proc = nullptr;
    // The system class's own window bytes come first; the object pointer
    // follows them.
    int object_offset = 0;
};

std::mutex classes_lock;
// Guarded by classes_lock. Few entries (one per system class), never moved
// once registered: the window procedure reads them without the lock.
std::vector<std::unique_ptr<superclass>> classes;

HINSTANCE this_module() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
    return module;
}

const superclass* find_by_atom(ATOM atom) noexcept
{
    std::lock_guard lock(classes_lock);
    for (const auto& entry : classes) {
        if (entry->atom == atom) {
            return entry.get();
        }
    }
    return nullptr;
}

const superclass* register_superclass(const wchar_t* system_class, WNDPROC window_proc)
{
    std::lock_guard lock(classes_lock);
    for (const auto& entry : classes) {
        if (entry->system_class == system_class) {
            return entry.get();
        }
    }
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    if (!GetClassInfoExW(nullptr, system_class, &info)) {
        return nullptr; // the library that provides it is not loaded
    }
    auto entry = std::make_unique<superclass>();
    entry->system_class = system_class;
    entry->name = L"VCDPropUI.";
    entry->name += system_class;
    entry->system_proc = info.lpfnWndProc;
    entry->object_offset = info.cbWndExtra;
    info.cbWndExtra += sizeof(LONG_PTR);
    info.lpfnWndProc = window_proc;
    info.hInstance = this_module();
    info.lpszClassName = entry->name.c_str();
    info.style &= ~CS_GLOBALCLASS;
    entry->atom = RegisterClassExW(&info);
    if (entry->atom == 0) {
        return nullptr;
    }
    classes.push_back(std::move(entry));
    return classes.back().get();
}

} // namespace

void control_window::unregister_classes() noexcept
{
    std::lock_guard lock(classes_lock);
    for (const auto& entry : classes) {
        UnregisterClassW(entry->name.c_str(), this_module());
    }
    classes.clear();
}

control_window::control_window(const wchar_t* system_class, DWORD style) noexcept
    : system_class_(system_class), style_(style)
{
}

control_window::~control_window()
{
    if (hwnd_ != nullptr) {
        const HWND window = hwnd_;
        if (const superclass* entry = find_by_atom(static_cast<ATOM>(GetClassWord(window, GCW_ATOM)))) {
            SetWindowLongPtrW(window, entry->object_offset, 0);
        }
        hwnd_ = nullptr;
        DestroyWindow(window);
    }
}

bool control_window::create_window(HWND parent, const RECT& rect, const std::wstring& caption)
{
    const superclass* entry = register_superclass(system_class_, &control_window::window_proc);
    if (entry == nullptr || hwnd_ != nullptr) {
        return false;
    }
    const HWND made = CreateWindowExW(0, entry->name.c_str(), caption.c_str(), style_, rect.left, rect.top,
                                      rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                      this_module(), this);
    if (made == nullptr) {
        return false;
    }
    const auto font = SendMessageW(parent, WM_GETFONT, 0, 0);
    SendMessageW(made, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return true;
}

LRESULT control_window::default_processing(UINT message, WPARAM wparam, LPARAM lparam)
{
    const superclass* entry = find_by_atom(static_cast<ATOM>(GetClassWord(hwnd_, GCW_ATOM)));
    return entry == nullptr ? DefWindowProcW(hwnd_, message, wparam, lparam)
                            : CallWindowProcW(entry->system_proc, hwnd_, message, wparam, lparam);
}

void control_window::tell_page_to_refresh() const
{
    PostMessageW(GetParent(hwnd_), refresh_controls, 0, 0);
}

LRESULT CALLBACK control_window::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    const superclass* entry = find_by_atom(static_cast<ATOM>(GetClassWord(window, GCW_ATOM)));
    if (entry == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCCREATE) {
        auto* created = static_cast<control_window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        created->hwnd_ = window;
        SetWindowLongPtrW(window, entry->object_offset, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<control_window*>(GetWindowLongPtrW(window, entry->object_offset));
    if (self == nullptr) {
        return CallWindowProcW(entry->system_proc, window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, entry->object_offset, 0);
        self->hwnd_ = nullptr;
        return CallWindowProcW(entry->system_proc, window, message, wparam, lparam);
    }
    bool handled = false;
    const LRESULT result = self->handle_message(message, wparam, lparam, handled);
    return handled ? result : CallWindowProcW(entry->system_proc, window, message, wparam, lparam);
}

void refresh_all(std::span<const std::shared_ptr<CVCDControlBase>> controls)
{
    // Ends the refresh of every item however update_state leaves.
    struct refresh_scope {
        std::span<const std::shared_ptr<CVCDControlBase>> controls;
        ~refresh_scope()
        {
            for (const auto& control : controls) {
                control->end_refresh();
            }
        }
    };
    for (const auto& control : controls) {
        control->begin_refresh();
    }
    const refresh_scope scope{controls};
    for (const auto& control : controls) {
        control->update_state();
    }
}

} // namespace VCDPropUI
