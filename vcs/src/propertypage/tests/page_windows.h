#pragma once
// What the page tests look at in a page's window: its child controls (class,
// text, place) and the messages its controls post.

#include <windows.h>

#include <string>
#include <vector>

namespace page_tests {

struct child {
    HWND window;
    std::wstring class_name;
    std::wstring text;
    RECT rect; // in the page's client coordinates
};

inline std::vector<child> children_of(HWND page)
{
    std::vector<child> found;
    for (HWND window = GetWindow(page, GW_CHILD); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        child c{window, {}, {}, {}};
        wchar_t text[256] = {};
        GetClassNameW(window, text, 256);
        c.class_name = text;
        GetWindowTextW(window, text, 256);
        c.text = text;
        GetWindowRect(window, &c.rect);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&c.rect), 2);
        found.push_back(c);
    }
    return found;
}

// Runs what the window messages posted so far set off (the controls'
// refresh_controls among them).
inline void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

inline std::wstring window_text(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

} // namespace page_tests
