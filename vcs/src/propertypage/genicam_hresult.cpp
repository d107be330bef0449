#include "propertypage/genicam_hresult.h"

#include "genicam/genicam_error.h"

#include <cstdint>

namespace genicam_adapter {

namespace {
constexpr HRESULT hr_insufficient_buffer = static_cast<HRESULT>(0x8007007AL);
constexpr HRESULT hr_device_gone = static_cast<HRESULT>(0x80070651L);
} // namespace

HRESULT genicam_to_hresult(const std::error_code& code) noexcept
{
    if (!code) {
        return S_OK;
    }
    if (code.category() != GenICam::genicam_category()) {
        return E_INVALIDARG;
    }
    switch (static_cast<GenICam::errc>(static_cast<std::uint32_t>(code.value()))) {
    case GenICam::errc::buffer_too_small:
        return hr_insufficient_buffer;
    case GenICam::errc::device_lost:
        return hr_device_gone;
    case GenICam::errc::formula_parse_failed:
        return E_FAIL;
    case GenICam::errc::not_implemented:
        return E_NOTIMPL;
    case GenICam::errc::access_denied:
        return E_ACCESSDENIED;
    default:
        return E_INVALIDARG;
    }
}

std::error_code hresult_to_genicam(HRESULT hr) noexcept
{
    switch (hr) {
    case S_OK:
        return {};
    case E_NOTIMPL:
        return GenICam::make_error_code(GenICam::errc::not_implemented);
    case E_ACCESSDENIED:
        return GenICam::make_error_code(GenICam::errc::access_denied);
    case hr_insufficient_buffer:
        return GenICam::make_error_code(GenICam::errc::buffer_too_small);
    case hr_device_gone:
        return GenICam::make_error_code(GenICam::errc::device_lost);
    default:
        return GenICam::make_error_code(GenICam::errc::invalid_parameter);
    }
}

} // namespace genicam_adapter
