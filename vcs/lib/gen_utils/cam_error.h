#pragma once
// The service's error category, whose values are HRESULTs (or Win32 error
// numbers), and the one conversion of an error code into an HRESULT at the COM
// and KS boundaries.

#include <windows.h>

#include <string>
#include <system_error>

class cam_error_cat final : public std::error_category {
public:
    const char* name() const noexcept override;
    // "Success" for 0, else the system message table's text for the value.
    std::string message(int value) const override;
};

const std::error_category& cam_error_category() noexcept;

inline std::error_code make_cam_error(HRESULT hr) noexcept
{
    return {static_cast<int>(hr), cam_error_category()};
}

namespace cam {
// No failure becomes a success code. GenICam codes follow a fixed table;
// cam_error_cat values pass unchanged, except Win32 error numbers (2 to
// 0xFFFF), which become HRESULT_FROM_WIN32 as a positive Win32 error of the
// system category does; errors of any other category become the HRESULT of
// their portable condition where one exists (E_OUTOFMEMORY, E_INVALIDARG,
// E_ACCESSDENIED, E_NOTIMPL, ...) and E_FAIL otherwise.
HRESULT to_hresult(const std::error_code& ec) noexcept;
} // namespace cam
