#pragma once
// Registry keys owned by handles, and the two low-level value readers. Values
// are read only up to their stored size: strings written by the service carry
// no terminating zero.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace utils {

struct hkey_closer {
    void operator()(HKEY key) const noexcept
    {
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
};
using unique_hkey = std::unique_ptr<std::remove_pointer_t<HKEY>, hkey_closer>;

// Type and stored size of a value; the query's Win32 error when it is missing.
LSTATUS reg_query_type_and_size(HKEY key, std::wstring_view name, DWORD& type, DWORD& size);

// Reads a value of `expected_type` into buffer. Win32 error code: the query's
// error for a missing value, ERROR_INVALID_PARAMETER (87) for a value of
// another type or larger than the buffer. An empty name is the default value.
LSTATUS reg_read_value(HKEY key, std::wstring_view name, void* buffer, DWORD length, DWORD expected_type);

// Reads a REG_SZ value into `out`, size / 2 characters (a stored terminating
// zero is one of them). A value of another type gives 0 and leaves `out` as it was.
LSTATUS reg_read_string(HKEY key, std::wstring_view name, std::wstring& out);

} // namespace utils
