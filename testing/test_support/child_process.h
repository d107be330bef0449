#pragma once
// Starting other programs from a test as real child processes.
//
// Under full parallel load Wine now and then fails a program start outright:
// CreateProcessW fails, or the program ends (or hangs) before it reaches
// main, with no output. A helper program of this project announces reaching
// main (announce_started.h), so such a start is told apart from a program that
// ran and failed, and only the start is tried again, a bounded number of
// times, each failure printed.

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "announce_started.h"
#include "gen_utils/win32_utils.h"

namespace test_support {

// A path of the build tree ("/work/...") as Wine's Z: drive shows it.
inline std::wstring windows_path(std::string_view unix_path)
{
    std::wstring path = L"Z:";
    for (const char c : unix_path) {
        path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    }
    return path;
}

struct child_process {
    win32::unique_handle process;
    DWORD id = 0;

    explicit operator bool() const { return process != nullptr; }

    // Exit code once it has ended within the timeout, else 0xFFFFFFFF.
    DWORD wait(DWORD timeout_ms = 30000) const
    {
        if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
            return 0xFFFFFFFF;
        }
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

// Starts of one program, the first included.
inline constexpr int start_attempts = 3;
// How long a started helper may take to reach main.
inline constexpr DWORD reach_main_timeout_ms = 30000;

// A named event that a helper program signals when it reaches main.
class started_event {
public:
    started_event()
        : name_(win32::make_unique_global_name(L"camtovra_started_")),
          event_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()))
    {
    }
    // An event of a fixed name, for a program that is not started with this
    // process's environment; reset in case a former start signalled it.
    explicit started_event(std::wstring name)
        : name_(std::move(name)), event_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()))
    {
        ResetEvent(event_.get());
    }

    const std::wstring& name() const { return name_; }

    // True once the program reached main. Otherwise, when it ended first, its
    // exit code is printed; when it neither did within the timeout, it is
    // ended. Both are printed with `what` and the attempt.
    bool wait_reached_main(const child_process& child, const char* what, int attempt) const
    {
        const HANDLE waits[2] = {event_.get(), child.process.get()};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, reach_main_timeout_ms);
        if (woken == WAIT_OBJECT_0) {
            return true;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            std::fprintf(stderr, "%s ended with exit code 0x%08lX before reaching main: Wine failed its start "
                                 "(attempt %d of %d)\n",
                         what, static_cast<unsigned long>(child.wait(0)), attempt, start_attempts);
        } else {
            TerminateProcess(child.process.get(), 0xDEAD);
            std::fprintf(stderr, "%s did not reach main within %lu ms: Wine failed its start (attempt %d of %d)\n",
                         what, static_cast<unsigned long>(reach_main_timeout_ms), attempt, start_attempts);
        }
        std::fflush(stderr);
        return false;
    }

private:
    std::wstring name_;
    win32::unique_handle event_;
};

namespace detail {

// This process's environment with `name`=`value` set.
inline std::vector<wchar_t> environment_with(std::wstring_view name, const std::wstring& value)
{
    std::vector<wchar_t> block;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        const std::wstring prefix = std::wstring(name) + L"=";
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
            if (_wcsnicmp(entry, prefix.c_str(), prefix.size()) != 0) {
                block.insert(block.end(), entry, entry + wcslen(entry) + 1);
            }
        }
        FreeEnvironmentStringsW(strings);
    }
    const std::wstring entry = std::wstring(name) + L"=" + value;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back(L'\0');
    return block;
}

inline child_process create_process(const std::wstring& exe, const std::wstring& arguments, wchar_t* environment)
{
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    child_process child;
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                       environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0, environment, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        child.process.reset(info.hProcess);
        child.id = info.dwProcessId;
    }
    return child;
}

inline std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace detail

// Runs `start` (which starts the program that signals `event` and returns
// it, or an empty result) until the program reaches main, at most
// `start_attempts` times, each failure printed with `what`. An empty result
// when no start reached main.
template <class Start>
child_process start_until_main(const char* what, Start&& start, const started_event& event = started_event())
{
    for (int attempt = 1; attempt <= start_attempts; ++attempt) {
        child_process child = start(event);
        if (!child) {
            std::fprintf(stderr, "the start of %s failed: error %lu (attempt %d of %d)\n", what, GetLastError(),
                         attempt, start_attempts);
            std::fflush(stderr);
            continue;
        }
        if (event.wait_reached_main(child, what, attempt)) {
            return child;
        }
    }
    return {};
}

// Starts a helper program of this project (one that announces reaching main)
// and returns once it has reached main; starts it again when Wine failed the
// start.
inline child_process start_helper(const std::wstring& exe, const std::wstring& arguments)
{
    const std::string what = detail::narrow(exe.substr(exe.find_last_of(L'\\') + 1));
    return start_until_main(what.c_str(), [&](const started_event& started) {
        std::vector<wchar_t> environment = detail::environment_with(started_event_variable, started.name());
        return detail::create_process(exe, arguments, environment.data());
    });
}

inline child_process start_helper(std::string_view unix_exe, const std::wstring& arguments)
{
    return start_helper(windows_path(unix_exe), arguments);
}

// Starts a program that does not announce reaching main (the product's own
// programs, the system's); only a failed CreateProcessW is tried again.
inline child_process start_program(const std::wstring& exe, const std::wstring& arguments)
{
    for (int attempt = 1; attempt <= start_attempts; ++attempt) {
        child_process child = detail::create_process(exe, arguments, nullptr);
        if (child) {
            return child;
        }
        std::fprintf(stderr, "CreateProcessW(%s) failed: error %lu (attempt %d of %d)\n",
                     detail::narrow(exe).c_str(), GetLastError(), attempt, start_attempts);
        std::fflush(stderr);
    }
    return {};
}

} // namespace test_support
