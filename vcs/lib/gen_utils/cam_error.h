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
// GenICam codes follow a fixed table; cam_error_cat values pass unchanged; a
// Win32 error of the system category becomes HRESULT_FROM_WIN32 so that no
// failure reaches a client as a success code; other categories give E_NOTIMPL
// for "not supported" and their value otherwise.
HRESULT to_hresult(const std::error_code& ec) noexcept;
} // namespace cam
