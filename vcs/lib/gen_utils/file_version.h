#pragma once
#include <cstdint>
#include <string>

namespace utils {

struct file_version {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    // major << 48 | minor << 32 | build << 16 | revision
    [[nodiscard]] std::uint64_t packed() const noexcept
    {
        return std::uint64_t{major} << 48 | std::uint64_t{minor} << 32 | std::uint64_t{build} << 16 | revision;
    }
    friend bool operator==(const file_version&, const file_version&) = default;
};

// The fixed file version of a file; all zero when it has none or cannot be read.
file_version get_file_version(const std::wstring& path);
// The fixed file version of the running executable.
file_version get_module_file_version();

} // namespace utils
