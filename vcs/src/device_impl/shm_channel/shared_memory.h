#pragma once
// One named, page-file-backed file mapping with its view mapped whole.

#include <windows.h>

#include <cstdint>
#include <new>
#include <string>

#include "gen_utils/win32_utils.h"

namespace win32 {

// A view that could not be mapped.
class out_of_memory : public std::bad_alloc {
public:
    explicit out_of_memory(const char* what) noexcept : what_(what) {}
    const char* what() const noexcept override { return what_; }

private:
    const char* what_;
};

class shared_memory {
public:
    // Creates the mapping `name` of `size` bytes (read/write) with
    // `security` and maps it. A name that exists already is refused with
    // std::system_error(ERROR_ALREADY_EXISTS): whoever holds that mapping
    // would share every byte written into it. Creation failures throw
    // std::system_error "failed to create file mapping", a failed view
    // out_of_memory "failed to map view of file mapping".
    shared_memory(const std::wstring& name, std::uint64_t size, SECURITY_ATTRIBUTES* security);
    ~shared_memory();
    shared_memory(const shared_memory&) = delete;
    shared_memory& operator=(const shared_memory&) = delete;

    std::uint8_t* view() const noexcept { return view_; }
    std::uint64_t size() const noexcept { return size_; }
    const std::wstring& name() const noexcept { return name_; }

private:
    std::wstring name_;
    unique_handle handle_;
    std::uint8_t* view_ = nullptr;
    std::uint64_t size_ = 0;
};

} // namespace win32
