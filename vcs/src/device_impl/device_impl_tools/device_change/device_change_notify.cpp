#include "device_impl/device_impl_tools/device_change/device_change_notify.h"

#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"
#include "gen_utils/log.h"
#include "gen_utils/thread_name.h"
#include "gen_utils/win32_utils.h"

#include <dbt.h>
#include <objbase.h>

#include <utility>

namespace device_change {

namespace {

constexpr wchar_t window_title[] = L"hidden_device_change_window";
constexpr char thread_name[] = "hidden_device_change_ window thread";

// The process-wide holder: the notifier while anybody subscribes.
struct holder {
    std::mutex mutex;
    std::shared_ptr<device_change_notify> notifier;
};

holder& the_holder()
{
    static holder h;
    return h;
}

// Owns a window class registration of this module.
class registered_class {
public:
    explicit registered_class(const WNDCLASSEXW& description) : name_(description.lpszClassName)
    {
        registered_ = RegisterClassExW(&description) != 0;
    }
    ~registered_class()
    {
        if (registered_) {
            UnregisterClassW(name_, nullptr);
        }
    }
    registered_class(const registered_class&) = delete;
    registered_class& operator=(const registered_class&) = delete;
    explicit operator bool() const noexcept { return registered_; }

private:
    const wchar_t* name_;
    bool registered_ = false;
};

// Owns the window until the message loop has seen it destroyed.
struct window_destroyer {
    void operator()(HWND window) const noexcept
    {
        if (IsWindow(window)) {
            DestroyWindow(window);
        }
    }
};
using unique_window = std::unique_ptr<std::remove_pointer_t<HWND>, window_destroyer>;

device_change_notify* notifier_of(HWND window)
{
    return reinterpret_cast<device_change_notify*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace

// The window procedure proper (below, the boundary that keeps exceptions in).
LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_NCCREATE:
        // The notifier is known from the creation on, so a broadcast that the
        // system sends before the posted WM_USER is handled still finds it.
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams));
        break;
    case WM_USER:
        SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(lparam));
        break;
    case WM_DEVICECHANGE:
        if (const auto event = read_device_interface_broadcast(wparam, lparam)) {
            if (device_change_notify* notifier = notifier_of(window)) {
                notifier->notify(event->name, event->interface_class, event->removed);
            }
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK device_change_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    // Nothing may leave a window procedure by an exception: it would unwind
    // through the system's message dispatch and end the process.
    try {
        return handle_message(window, message, wparam, lparam);
    } catch (const std::exception& e) {
        log_line(logging::level_error,
                 "[CamTovra] device_change::device_change_window_proc, message {:#x} failed: {}.\n", message,
                 e.what());
    } catch (...) {
        log_line(logging::level_error, "[CamTovra] device_change::device_change_window_proc, message {:#x} failed.\n",
                 message);
    }
    return 0;
}

device_change_notify_h::~device_change_notify_h()
{
    device_change_notify::unsubscribe(this);
}

void device_change_notify::create(const std::shared_ptr<device_change_notify_h>& handle,
                                  device_change_callback callback)
{
    if (!handle) {
        return;
    }
    holder& h = the_holder();
    std::lock_guard global(h.mutex);
    if (!h.notifier) {
        h.notifier = std::make_shared<device_change_notify>(make_class_name());
    }
    std::lock_guard lock(h.notifier->mutex_);
    h.notifier->subscribers_[handle.get()] = std::move(callback);
}

std::shared_ptr<device_change_notify> device_change_notify::current()
{
    holder& h = the_holder();
    std::lock_guard global(h.mutex);
    return h.notifier;
}

void device_change_notify::unsubscribe(const device_change_notify_h* handle)
{
    holder& h = the_holder();
    std::lock_guard global(h.mutex);
    if (!h.notifier) {
        return;
    }
    bool now_empty = false;
    {
        std::lock_guard lock(h.notifier->mutex_);
        now_empty = h.notifier->subscribers_.erase(handle) != 0 && h.notifier->subscribers_.empty();
    }
    if (now_empty) {
        // Destroyed under the holder's mutex: a new subscription starts its
        // window only after this one is gone.
        h.notifier.reset();
    }
}

std::wstring device_change_notify::make_class_name()
{
    GUID guid{};
    CoCreateGuid(&guid);
    return L"hidden_device_change_" + win32::guid_to_wstring(guid);
}

device_change_notify::device_change_notify(std::wstring class_name) : class_name_(std::move(class_name))
{
    std::unique_lock lock(mutex_);
    thread_ = std::thread([this] {
        try {
            window_thread();
        } catch (const std::exception& e) {
            log_line(logging::level_error,
                     "[CamTovra] device_change::device_change_notify::window_thread, ended by: {}.\n", e.what());
        } catch (...) {
            log_line(logging::level_error, "[CamTovra] device_change::device_change_notify::window_thread, ended by "
                                           "an exception.\n");
        }
    });
    // A thread that cannot make its window ends without publishing one:
    // waiting for the window alone would never return.
    window_state_.wait(lock, [this] { return owned_window_ != nullptr || thread_ended_; });
    if (owned_window_ == nullptr) {
        return;
    }
    // Registered and unregistered on the thread that makes and drops the
    // notifier, never on the window thread: in a service both happen inside
    // the service's control handler, and Wine's service dispatcher holds a
    // lock there that registering and unregistering take too. The window
    // thread doing either while this thread waits for it would never finish.
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = min_interface_record_size;
    filter.dbcc_devicetype = device_type_interface;
    notification_ = RegisterDeviceNotificationW(owned_window_, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    if (notification_ == nullptr) {
        log_line(logging::level_error,
                 "[CamTovra] device_change::device_change_notify, failed to register for device notifications, "
                 "error={}.\n",
                 GetLastError());
    }
}

device_change_notify::~device_change_notify()
{
    // The registration ends on this thread (see the constructor), before the
    // window thread is asked to end.
    HDEVNOTIFY notification = nullptr;
    {
        std::lock_guard lock(mutex_);
        notification = std::exchange(notification_, nullptr);
    }
    if (notification != nullptr) {
        UnregisterDeviceNotification(notification);
    }
    if (HWND window = this->window()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

HWND device_change_notify::window() const
{
    std::lock_guard lock(mutex_);
    return owned_window_;
}

void device_change_notify::notify(std::wstring_view interface_name, const GUID& interface_class, bool removed)
{
    std::lock_guard lock(mutex_);
    for (const auto& [handle, callback] : subscribers_) {
        if (!callback) {
            continue;
        }
        // One subscriber's failure must not keep the others from hearing of
        // the change.
        try {
            callback(interface_name, interface_class, removed);
        } catch (const std::exception& e) {
            log_line(logging::level_error,
                     "[CamTovra] device_change::device_change_notify::notify, a subscriber failed on {} of an "
                     "interface: {}.\n",
                     removed ? "the removal" : "the arrival", e.what());
        } catch (...) {
            log_line(logging::level_error,
                     "[CamTovra] device_change::device_change_notify::notify, a subscriber failed on {} of an "
                     "interface.\n",
                     removed ? "the removal" : "the arrival");
        }
    }
}

void device_change_notify::window_thread()
{
    struct end_signal {
        device_change_notify& self;
        ~end_signal()
        {
            {
                std::lock_guard lock(self.mutex_);
                self.owned_window_ = nullptr;
                self.thread_ended_ = true;
            }
            self.window_state_.notify_all();
        }
    } signal_end{*this};
    {
        std::lock_guard lock(mutex_);
        thread_id_ = GetCurrentThreadId();
    }
    utils::set_thread_description(thread_name);

    WNDCLASSEXW description{};
    description.cbSize = sizeof(description);
    description.lpfnWndProc = device_change_window_proc;
    description.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    description.lpszClassName = class_name_.c_str();
    const registered_class window_class(description);
    if (!window_class) {
        log_line(logging::level_error,
                 "[CamTovra] device_change::device_change_notify::window_thread, Window Registration Failed! "
                 "error={}.\n",
                 GetLastError());
        return;
    }
    unique_window window(CreateWindowExW(WS_EX_CLIENTEDGE, class_name_.c_str(), window_title, WS_OVERLAPPEDWINDOW,
                                         CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr, nullptr, nullptr, this));
    if (!window) {
        log_line(logging::level_error,
                 "[CamTovra] device_change::device_change_notify::window_thread, Window Creation Failed! "
                 "error={}.\n",
                 GetLastError());
        return;
    }
    ShowWindow(window.get(), SW_HIDE);
    UpdateWindow(window.get());
    PostMessageW(window.get(), WM_USER, 0, reinterpret_cast<LPARAM>(this));

    {
        std::lock_guard lock(mutex_);
        owned_window_ = window.get();
    }
    window_state_.notify_all();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    log_line(logging::level_warning, "[CamTovra] device_change::device_change_notify::window_thread, ended.\n");
}

} // namespace device_change
