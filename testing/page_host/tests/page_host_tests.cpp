// The page host as scripts run it: a page activated in a window of its own
// until a named event closes it, and the property frame closed by its timer.

#include "child_process.h"

#include <gtest/gtest.h>

namespace {

const wchar_t exposure_page[] = L"{B167753E-7AB6-4198-937A-D0C017DCB4E7}";

int count_children(HWND page)
{
    int count = 0;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ++count;
    }
    return count;
}

// The host's top-level window once the page in it has at least `controls`
// windows; null when the host ended first or the page never filled.
HWND wait_for_filled_page(const test_support::child_process& host, int controls)
{
    for (int look = 0; look < 600; ++look) {
        HWND window = FindWindowW(L"camtovra_page_host", nullptr);
        HWND page = window != nullptr ? GetWindow(window, GW_CHILD) : nullptr;
        if (page != nullptr && count_children(page) >= controls) {
            return window;
        }
        // Waits on the host: a host that ended stops the looking at once.
        if (WaitForSingleObject(host.process.get(), 50) == WAIT_OBJECT_0) {
            return nullptr;
        }
    }
    return nullptr;
}

TEST(page_host, a_page_in_its_own_window_closes_on_the_named_event)
{
    const std::wstring event_name = L"camtovra_page_host_tests_close_" + std::to_wstring(GetCurrentProcessId());
    const win32::unique_handle close(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    ASSERT_NE(close, nullptr);
    const auto host = test_support::start_helper(
        PAGE_HOST_EXE, L"--filter scripted --page " + std::wstring(exposure_page) + L" --close-event " + event_name);
    ASSERT_TRUE(host);
    // Labels and controls of Gain and Exposure, made in the host's process.
    ASSERT_NE(wait_for_filled_page(host, 10), nullptr);
    SetEvent(close.get());
    EXPECT_EQ(host.wait(30000), 0u);
}

TEST(page_host, the_property_frame_closes_after_the_given_time)
{
    const auto host = test_support::start_helper(PAGE_HOST_EXE, L"--filter scripted --frame --close-after 300");
    ASSERT_TRUE(host);
    EXPECT_EQ(host.wait(30000), 0u);
}

TEST(page_host, a_bad_command_line_is_refused)
{
    const auto host = test_support::start_helper(PAGE_HOST_EXE, L"--filter scripted --frame --page x");
    ASSERT_TRUE(host);
    EXPECT_EQ(host.wait(30000), 2u);
}

} // namespace
