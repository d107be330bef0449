#include "gen_utils/file_version.h"

#include <windows.h>

#include <vector>

namespace utils {

file_version get_file_version(const std::wstring& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size <= sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        return {};
    }
    void* info = nullptr;
    UINT info_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", &info, &info_size) || info == nullptr ||
        info_size < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(info);
    return {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
            LOWORD(fixed->dwFileVersionLS)};
}

file_version get_module_file_version()
{
    std::wstring path(32000, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    return get_file_version(path);
}

} // namespace utils
