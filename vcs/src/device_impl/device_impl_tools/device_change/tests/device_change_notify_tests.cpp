// The process's hidden device-change window, as subscribers see it: the test
// sends the window the WM_DEVICECHANGE broadcasts that the system would.
#include "device_impl/device_impl_tools/device_change/device_change_notify.h"
#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"

#include "gen_utils/log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using device_change::device_change_notify;
using device_change::device_change_notify_h;

constexpr GUID camera_class = {0x5DC9399A, 0x8F79, 0x4AEA, {0x97, 0x0B, 0xCC, 0x70, 0x47, 0x38, 0x49, 0xE9}};

struct call {
    int subscriber;
    std::wstring name;
    GUID interface_class;
    bool removed;
};

// Calls of every subscriber, in the order they came. Written on the window
// thread while the test's SendMessageW waits for it.
struct recorder {
    std::vector<call> calls;
    device_change::device_change_callback for_subscriber(int subscriber)
    {
        return [this, subscriber](std::wstring_view name, const GUID& interface_class, bool removed) {
            calls.push_back({subscriber, std::wstring(name), interface_class, removed});
        };
    }
};

// A DEV_BROADCAST_DEVICEINTERFACE_W of the camera class (or a record of
// another device type), sized as the system sizes it.
std::vector<DWORD> broadcast_record(std::wstring_view name, DWORD type = 5)
{
    std::vector<DWORD> storage = device_change::make_device_interface_broadcast(name, camera_class);
    storage[1] = type;
    return storage;
}

// Level-1 log lines written while it lives.
class error_lines {
public:
    error_lines() : saved_level_(service_log_level.load())
    {
        service_log_level = 1;
        set_log_sink(1, [this](std::uint32_t, const char* text) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(text);
        });
    }
    ~error_lines()
    {
        set_log_sink(1, nullptr);
        service_log_level = saved_level_;
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::uint32_t saved_level_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

HWND current_window()
{
    const auto notifier = device_change_notify::current();
    return notifier ? notifier->window() : nullptr;
}

void send(WPARAM event, std::vector<DWORD>* record)
{
    const HWND window = current_window();
    ASSERT_NE(window, nullptr);
    SendMessageW(window, WM_DEVICECHANGE, event, record ? reinterpret_cast<LPARAM>(record->data()) : 0);
}

bool thread_has_ended(DWORD id)
{
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) {
        return true;
    }
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

TEST(device_change_notify, two_subscribers_receive_one_arrival_in_handle_address_order)
{
    recorder seen;
    auto first = std::make_shared<device_change_notify_h>();
    auto second = std::make_shared<device_change_notify_h>();
    device_change_notify::create(first, seen.for_subscriber(1));
    device_change_notify::create(second, seen.for_subscriber(2));

    auto record = broadcast_record(L"\\\\?\\USB#VID_199E&PID_9001#SIM00001#{5dc9399a}");
    ASSERT_NO_FATAL_FAILURE(send(0x8000, &record));
    ASSERT_EQ(seen.calls.size(), 2u);
    const int lower = std::less<>{}(first.get(), second.get()) ? 1 : 2;
    EXPECT_EQ(seen.calls[0].subscriber, lower);
    EXPECT_EQ(seen.calls[1].subscriber, 3 - lower);
    for (const call& c : seen.calls) {
        EXPECT_EQ(c.name, L"\\\\?\\USB#VID_199E&PID_9001#SIM00001#{5dc9399a}");
        EXPECT_TRUE(IsEqualGUID(c.interface_class, camera_class));
        EXPECT_FALSE(c.removed);
    }

    // Subscribing a handle again replaces its callable; it is still called once.
    device_change_notify::create(first, seen.for_subscriber(3));
    seen.calls.clear();
    ASSERT_NO_FATAL_FAILURE(send(0x8004, &record));
    ASSERT_EQ(seen.calls.size(), 2u);
    EXPECT_TRUE(seen.calls[0].removed && seen.calls[1].removed);
    EXPECT_EQ(seen.calls[0].subscriber + seen.calls[1].subscriber, 5);

    // Dropping one of two handles leaves the window to the other.
    const HWND window = current_window();
    first.reset();
    EXPECT_EQ(current_window(), window);
    seen.calls.clear();
    ASSERT_NO_FATAL_FAILURE(send(0x8000, &record));
    ASSERT_EQ(seen.calls.size(), 1u);
    EXPECT_EQ(seen.calls[0].subscriber, 2);
}

// A subscriber's failure stays its own: the window thread logs it, calls the
// other subscribers and keeps serving broadcasts.
TEST(device_change_notify, a_subscriber_that_throws_is_logged_and_the_others_are_still_called)
{
    error_lines log;
    recorder seen;
    auto thrower = std::make_shared<device_change_notify_h>();
    auto before = std::make_shared<device_change_notify_h>();
    auto after = std::make_shared<device_change_notify_h>();
    device_change_notify::create(thrower, [](std::wstring_view, const GUID&, bool) {
        throw std::runtime_error("subscriber failed");
    });
    device_change_notify::create(before, seen.for_subscriber(1));
    device_change_notify::create(after, seen.for_subscriber(2));
    const DWORD thread = device_change_notify::current()->thread_id();

    auto record = broadcast_record(L"\\\\?\\USB#VID_199E&PID_9001#SIM00001#{5dc9399a}");
    for (const WPARAM event : {WPARAM{0x8000}, WPARAM{0x8004}}) {
        seen.calls.clear();
        ASSERT_NO_FATAL_FAILURE(send(event, &record));
        ASSERT_EQ(seen.calls.size(), 2u) << event;
        EXPECT_EQ(seen.calls[0].subscriber + seen.calls[1].subscriber, 3);
        EXPECT_EQ(seen.calls[0].removed, event == 0x8004);
    }
    EXPECT_FALSE(thread_has_ended(thread));
    std::size_t logged = 0;
    for (const std::string& line : log.lines()) {
        logged += line.find("device_change::device_change_notify::notify") != std::string::npos &&
                  line.find("subscriber failed") != std::string::npos;
    }
    EXPECT_EQ(logged, 2u);
}

TEST(device_change_notify, other_events_and_other_device_types_call_nobody)
{
    recorder seen;
    auto handle = std::make_shared<device_change_notify_h>();
    device_change_notify::create(handle, seen.for_subscriber(1));

    auto volume = broadcast_record(L"D:", 2);
    auto camera = broadcast_record(L"cam");
    ASSERT_NO_FATAL_FAILURE(send(0x0007, nullptr)); // DBT_DEVNODES_CHANGED
    ASSERT_NO_FATAL_FAILURE(send(0x8000, &volume));
    ASSERT_NO_FATAL_FAILURE(send(0x8001, &camera)); // a query, not an arrival
    ASSERT_NO_FATAL_FAILURE(send(0x8000, nullptr));
    EXPECT_TRUE(seen.calls.empty());
    // The window still serves the next arrival.
    ASSERT_NO_FATAL_FAILURE(send(0x8000, &camera));
    EXPECT_EQ(seen.calls.size(), 1u);
}

TEST(device_change_notify, the_window_is_hidden_titled_and_of_a_class_of_its_own)
{
    error_lines errors;
    auto handle = std::make_shared<device_change_notify_h>();
    device_change_notify::create(handle, {});
    EXPECT_TRUE(errors.lines().empty()) << "class, window and device notification registered: "
                                        << errors.lines().front();
    const auto notifier = device_change_notify::current();
    ASSERT_NE(notifier, nullptr);
    const std::wstring& name = notifier->class_name();
    ASSERT_EQ(name.size(), 21u + 38u);
    EXPECT_EQ(name.substr(0, 22), L"hidden_device_change_{");
    EXPECT_EQ(name.back(), L'}');
    for (const wchar_t c : name.substr(21)) {
        EXPECT_TRUE(c == L'{' || c == L'}' || c == L'-' || (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))
            << "registry form, upper-case digits";
    }
    EXPECT_EQ(FindWindowW(name.c_str(), L"hidden_device_change_window"), notifier->window());
    EXPECT_FALSE(IsWindowVisible(notifier->window()));
    EXPECT_EQ(GetWindowThreadProcessId(notifier->window(), nullptr), notifier->thread_id());
}

TEST(device_change_notify, dropping_the_only_handle_ends_the_thread_and_a_new_subscription_starts_afresh)
{
    auto handle = std::make_shared<device_change_notify_h>();
    device_change_notify::create(handle, {});
    std::wstring first_class;
    DWORD first_thread = 0;
    HWND first_window = nullptr;
    {
        const auto notifier = device_change_notify::current();
        ASSERT_NE(notifier, nullptr);
        first_class = notifier->class_name();
        first_thread = notifier->thread_id();
        first_window = notifier->window();
    }
    auto copy = handle;
    handle.reset();
    EXPECT_NE(device_change_notify::current(), nullptr) << "another reference keeps the subscription";
    copy.reset();
    EXPECT_EQ(device_change_notify::current(), nullptr);
    EXPECT_TRUE(thread_has_ended(first_thread));
    EXPECT_FALSE(IsWindow(first_window));
    WNDCLASSEXW unused{};
    unused.cbSize = sizeof(unused);
    EXPECT_FALSE(GetClassInfoExW(nullptr, first_class.c_str(), &unused)) << "the class is unregistered";

    recorder seen;
    auto again = std::make_shared<device_change_notify_h>();
    device_change_notify::create(again, seen.for_subscriber(7));
    const auto notifier = device_change_notify::current();
    ASSERT_NE(notifier, nullptr);
    EXPECT_NE(notifier->class_name(), first_class);
    auto record = broadcast_record(L"cam");
    ASSERT_NO_FATAL_FAILURE(send(0x8000, &record));
    ASSERT_EQ(seen.calls.size(), 1u);
    EXPECT_EQ(seen.calls[0].subscriber, 7);
}

TEST(device_change_notify, a_window_class_that_cannot_be_registered_is_logged_and_does_not_hang_the_creator)
{
    error_lines errors;
    // The class name is taken already, so the window thread cannot register it.
    const std::wstring taken = device_change_notify::make_class_name();
    WNDCLASSEXW description{};
    description.cbSize = sizeof(description);
    description.lpfnWndProc = DefWindowProcW;
    description.lpszClassName = taken.c_str();
    ASSERT_NE(RegisterClassExW(&description), 0);
    DWORD thread = 0;
    {
        device_change_notify notifier(taken);
        EXPECT_EQ(notifier.window(), nullptr);
        thread = notifier.thread_id();
    }
    EXPECT_NE(thread, 0u);
    EXPECT_TRUE(thread_has_ended(thread));
    UnregisterClassW(taken.c_str(), nullptr);

    const auto lines = errors.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[CamTovra] device_change::device_change_notify::window_thread, Window Registration "
                            "Failed!"),
              std::string::npos)
        << lines[0];
}

} // namespace
