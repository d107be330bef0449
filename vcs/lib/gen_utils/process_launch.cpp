#include "gen_utils/process_launch.h"

#include <userenv.h>

#include <string>
#include <vector>

namespace utils {

namespace {
struct environment_block {
    void* block = nullptr;
    ~environment_block()
    {
        if (block != nullptr) {
            DestroyEnvironmentBlock(block);
        }
    }
};
} // namespace

HANDLE launch_process_in_session(HANDLE user_token, std::wstring_view application,
                                 std::wstring_view command_line, std::wstring_view current_directory)
{
    environment_block environment;
    if (!CreateEnvironmentBlock(&environment.block, user_token, FALSE)) {
        return nullptr;
    }

    // CreateProcessAsUserW may write into the command line.
    std::vector<wchar_t> writable_command(command_line.begin(), command_line.end());
    writable_command.push_back(L'\0');
    const std::wstring app(application);
    const std::wstring directory(current_directory);
    wchar_t desktop[] = L"winsta0\\default";

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process{};
    if (!CreateProcessAsUserW(user_token, app.empty() ? nullptr : app.c_str(),
                              command_line.empty() ? nullptr : writable_command.data(), nullptr, nullptr,
                              FALSE, CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_CONSOLE, environment.block,
                              directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

} // namespace utils
