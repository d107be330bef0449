#include "propertypage/page_module.h"

#include "propertypage/module_objects.h"

#include <atomic>
#include <cwchar>
#include <iterator>

namespace camtovra_propertypage {

namespace {
std::atomic<HINSTANCE> kept_module{nullptr};
std::atomic<long> locks{0};
std::atomic<long> class_factories{0};

// A library of the system folder, never a file of that name in the folder of
// the application that shows the pages or in the current directory. Systems
// without the search flag refuse it as an invalid parameter; there the full
// path of the system folder's file is loaded instead.
HMODULE load_system_library(const wchar_t* name) noexcept
{
    if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return module;
    }
    if (GetLastError() != ERROR_INVALID_PARAMETER) {
        return nullptr;
    }
    wchar_t path[MAX_PATH + 32] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || std::wcslen(name) + length + 2 > std::size(path)) {
        return nullptr;
    }
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
} // namespace

HINSTANCE module_instance() noexcept
{
    if (HINSTANCE kept = kept_module.load()) {
        return kept;
    }
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&module_instance), &module);
    return module;
}

void set_module_instance(HINSTANCE module) noexcept
{
    kept_module = module;
}

void lock_server(bool lock) noexcept
{
    if (lock) {
        ++locks;
    } else {
        --locks;
    }
}

void class_factory_created() noexcept
{
    ++class_factories;
}

void class_factory_destroyed() noexcept
{
    --class_factories;
}

bool can_unload() noexcept
{
    return locks.load() <= 0 && class_factories.load() <= 0 && object_count() <= 0;
}

void load_rich_edit_libraries() noexcept
{
    static std::atomic<bool> loaded{false};
    if (!loaded.exchange(true)) {
        load_system_library(L"RICHED20.DLL");
        load_system_library(L"Msftedit.dll"); // provides "RICHEDIT50W"
    }
}

} // namespace camtovra_propertypage
