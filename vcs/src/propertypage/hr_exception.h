#pragma once
// A failure with the HRESULT it is to become at the page's boundary, and a
// text that says what failed.

#include <windows.h>

#include <exception>
#include <string>

namespace genicam_adapter {

class hr_exception : public std::exception {
public:
    explicit hr_exception(std::string message, HRESULT hr = E_FAIL) : message_(std::move(message)), hr_(hr) {}
    const char* what() const noexcept override { return message_.c_str(); }
    HRESULT hr() const noexcept { return hr_; }

private:
    std::string message_;
    HRESULT hr_;
};

} // namespace genicam_adapter
