#include "gen_utils/thread_name.h"

#ifdef _WIN32
#include <windows.h>

#include "gen_utils/string_conv.h"

namespace utils {

namespace {
using set_thread_description_fn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

set_thread_description_fn lookup_set_thread_description()
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<set_thread_description_fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetThreadDescription")));
}
} // namespace

void set_thread_description(std::string_view name) noexcept
{
    static const set_thread_description_fn fn = lookup_set_thread_description();
    if (fn == nullptr) {
        return;
    }
    try {
        const std::wstring wide = to_utf16(name);
        fn(GetCurrentThread(), wide.c_str());
    } catch (...) {
    }
}

} // namespace utils
#else
namespace utils {
void set_thread_description(std::string_view) noexcept {}
} // namespace utils
#endif
