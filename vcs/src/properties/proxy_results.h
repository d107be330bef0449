#pragma once
// Results that the named-request proxy answers itself, as the camera error
// category carries them to the COM boundary.

#include <windows.h>

#include "gen_utils/cam_error.h"

#include <system_error>

namespace drv_genicam::results {

inline std::error_code invalid_arg()
{
    return make_cam_error(E_INVALIDARG);
}

inline std::error_code not_implemented()
{
    return make_cam_error(E_NOTIMPL);
}

// 0x8007007A: the value buffer is too small.
inline std::error_code too_small()
{
    return make_cam_error(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
}

} // namespace drv_genicam::results
