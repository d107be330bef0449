#include "gen_utils/cam_error.h"

#include "gen_utils/string_conv.h"
#include "genicam/genicam_error.h"

const char* cam_error_cat::name() const noexcept
{
    return "Cam error category";
}

std::string cam_error_cat::message(int value) const
{
    if (value == 0) {
        return "Success";
    }
    wchar_t buffer[1024];
    // Inserts are left as they stand: there are no arguments to fill them from.
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(value), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    return utils::to_utf8(buffer, length);
}

const std::error_category& cam_error_category() noexcept
{
    static const cam_error_cat category;
    return category;
}

namespace cam {

namespace {
HRESULT genicam_to_hresult(std::uint32_t code) noexcept
{
    using GenICam::errc;
    switch (static_cast<errc>(code)) {
    case errc::success: return S_OK;
    case errc::buffer_too_small: return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    case errc::device_lost: return HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED);
    case errc::formula_parse_failed: return E_FAIL;
    case errc::value_locked:
    case errc::node_not_available:
    case errc::access_denied: return E_ACCESSDENIED;
    case errc::not_implemented: return E_NOTIMPL;
    default: return E_INVALIDARG;
    }
}

// Portable conditions that have an HRESULT of their own; every other error of
// a foreign category is E_FAIL.
HRESULT generic_to_hresult(const std::error_code& ec) noexcept
{
    static const struct {
        std::errc condition;
        HRESULT hr;
    } table[] = {
        {std::errc::not_enough_memory, E_OUTOFMEMORY},
        {std::errc::invalid_argument, E_INVALIDARG},
        {std::errc::permission_denied, E_ACCESSDENIED},
        {std::errc::operation_not_permitted, E_ACCESSDENIED},
        {std::errc::not_supported, E_NOTIMPL},
        {std::errc::operation_not_supported, E_NOTIMPL},
        {std::errc::function_not_supported, E_NOTIMPL},
        {std::errc::bad_address, E_POINTER},
        {std::errc::operation_canceled, HRESULT_FROM_WIN32(ERROR_CANCELLED)},
        {std::errc::timed_out, HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
        {std::errc::no_such_file_or_directory, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {std::errc::file_exists, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {std::errc::device_or_resource_busy, HRESULT_FROM_WIN32(ERROR_BUSY)},
        {std::errc::no_such_device, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
        {std::errc::too_many_files_open, HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES)},
    };
    for (const auto& entry : table) {
        if (ec == entry.condition) {
            return entry.hr;
        }
    }
    return E_FAIL;
}

// A positive value is a success code as an HRESULT but a failure as a Win32
// error number. Success codes with a facility (0x10000 and up) and S_FALSE
// stay; the other small positive values are Win32 errors.
HRESULT win32_or_hresult(int value) noexcept
{
    if (value <= static_cast<int>(S_FALSE) || value > 0xFFFF) {
        return static_cast<HRESULT>(value);
    }
    return HRESULT_FROM_WIN32(static_cast<DWORD>(value));
}
} // namespace

HRESULT to_hresult(const std::error_code& ec) noexcept
{
    if (!ec) {
        return S_OK;
    }
    if (ec.category() == GenICam::genicam_category()) {
        return genicam_to_hresult(static_cast<std::uint32_t>(ec.value()));
    }
    if (ec.category() == std::system_category()) {
        return ec.value() > 0 ? HRESULT_FROM_WIN32(static_cast<DWORD>(ec.value())) : static_cast<HRESULT>(ec.value());
    }
    if (ec.category() == cam_error_category()) {
        return win32_or_hresult(ec.value());
    }
    return generic_to_hresult(ec);
}

} // namespace cam
