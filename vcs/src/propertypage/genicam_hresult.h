#pragma once
// The one way between the GenICam engine's error codes and the HRESULTs of the
// filter and the page.

#include <windows.h>

#include <system_error>

namespace genicam_adapter {

// 0 → S_OK; buffer too small → 0x8007007A; device lost → 0x80070651; formula
// → E_FAIL; not implemented → E_NOTIMPL; access denied → E_ACCESSDENIED;
// every other code (of any category) → E_INVALIDARG.
HRESULT genicam_to_hresult(const std::error_code& code) noexcept;

// S_OK → 0; E_NOTIMPL → 0x80008001; E_ACCESSDENIED → 0x80008006;
// 0x8007007A → 0x80000002; 0x80070651 → 0x80000003; every other HRESULT,
// success codes such as S_FALSE included, → 0x80008002.
std::error_code hresult_to_genicam(HRESULT hr) noexcept;

} // namespace genicam_adapter
