#pragma once
// Device-interface arrivals and removals for the whole process. The system
// announces them only to windows, in WM_DEVICECHANGE broadcasts, so one
// hidden window runs on a thread of its own, registered for the broadcasts
// of every device-interface class, and calls each subscriber for each arrival
// and removal. The window and its thread exist exactly while at least one
// subscription handle exists.
//
// Lock order: the process-wide holder's mutex, then the notifier's. Callbacks
// run on the window thread with the notifier's mutex held: a callback must not
// subscribe, unsubscribe or drop its handle. A callback that throws is
// logged and the others are still called.

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace device_change {

// (interface name as the broadcast carries it, interface class, removed):
// removed is false for an arrival, true for a removal.
using device_change_callback =
    std::function<void(std::wstring_view interface_name, const GUID& interface_class, bool removed)>;

// A subscription. Its address identifies the subscriber; the destruction of
// the last reference (it is held through a std::shared_ptr) unsubscribes.
class device_change_notify_h {
public:
    device_change_notify_h() = default;
    ~device_change_notify_h();
    device_change_notify_h(const device_change_notify_h&) = delete;
    device_change_notify_h& operator=(const device_change_notify_h&) = delete;
};

class device_change_notify {
public:
    // Subscribes `handle` with `callback`, or replaces the callback of a
    // handle already subscribed. The first subscription brings up the window
    // and its thread before it returns. When the window cannot be made (logged
    // at level 1) the subscription still completes and receives nothing.
    static void create(const std::shared_ptr<device_change_notify_h>& handle, device_change_callback callback);

    // The process's notifier, null while nobody subscribes.
    static std::shared_ptr<device_change_notify> current();

    // Starts the window thread for a window class of this name and returns
    // once the thread has published its window or has ended.
    explicit device_change_notify(std::wstring class_name);
    // Closes the window and waits for its thread to end.
    ~device_change_notify();
    device_change_notify(const device_change_notify&) = delete;
    device_change_notify& operator=(const device_change_notify&) = delete;

    // The hidden window (null when it could not be made, and once it is gone).
    HWND window() const;
    const std::wstring& class_name() const noexcept { return class_name_; }
    // The window thread's id (0 when the thread could not start).
    DWORD thread_id() const noexcept { return thread_id_; }

    // "hidden_device_change_" followed by a fresh GUID in registry form.
    static std::wstring make_class_name();

private:
    friend class device_change_notify_h;
    friend LRESULT CALLBACK device_change_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    friend LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    // Removes the handle's entry; the last one gone takes the notifier down.
    static void unsubscribe(const device_change_notify_h* handle);

    void window_thread();
    // Calls every subscriber, in the order of their handle addresses.
    void notify(std::wstring_view interface_name, const GUID& interface_class, bool removed);

    mutable std::mutex mutex_;
    std::map<const device_change_notify_h*, device_change_callback> subscribers_;
    std::condition_variable window_state_;
    std::thread thread_;
    HWND owned_window_ = nullptr;
    // The window's device-notification registration, until one of the two
    // threads below unregisters it.
    HDEVNOTIFY notification_ = nullptr;
    bool thread_ended_ = false;
    DWORD thread_id_ = 0;
    std::wstring class_name_;
};

} // namespace device_change
