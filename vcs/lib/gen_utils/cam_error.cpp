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
} // namespace

HRESULT to_hresult(const std::error_code& ec) noexcept
{
    if (ec.category() == GenICam::genicam_category()) {
        return genicam_to_hresult(static_cast<std::uint32_t>(ec.value()));
    }
    if (ec.category() == std::system_category()) {
        return ec.value() > 0 ? HRESULT_FROM_WIN32(static_cast<DWORD>(ec.value())) : static_cast<HRESULT>(ec.value());
    }
    if (ec.category() == cam_error_category()) {
        return static_cast<HRESULT>(ec.value());
    }
    if (ec == std::errc::not_supported) {
        return E_NOTIMPL;
    }
    return static_cast<HRESULT>(ec.value());
}

} // namespace cam
