#pragma once
// How the standard UVC handlers reach their camera: one UVC class request on
// a unit's control selector, and the store that values set by clients
// persist in. The UVC device base implements it; the requests go to the
// VideoControl interface.

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "properties/property_store.h"
#include "properties/uvc_property_data.h"

namespace uvc_property {

class uvc_control_channel {
public:
    virtual ~uvc_control_channel() = default;
    // GET_x fills `length` bytes of `buffer`; SET_CUR sends them.
    virtual std::error_code uvc_request(std::uint8_t request, std::uint8_t unit_id, std::uint8_t selector,
                                        std::uint16_t length, void* buffer) = 0;
    // Where set values persist; may be null.
    virtual utils::property_store_itf* property_store() = 0;
    // The name a handler's value `name` is stored under on this camera:
    // `name` itself unless something else of the camera keeps a value under
    // it in the same store.
    virtual std::wstring value_name(std::wstring_view name) { return std::wstring(name); }
};

// Reads a control's length (when not known), capabilities, resolution,
// range, default and current value from the device and logs what is
// inconsistent. Unit id 0: 0x80004001. A failed or empty length request, a
// length above 16 bytes, or
// a failed GET_INFO, leaves the control unusable (length 0) and returns the
// error; the other reads may fail without consequence.
std::error_code initialise_control(uvc_control_channel& channel, UVCPropertyData& control);

// GET_CUR reads `length` bytes into the current value; SET_CUR sends them.
std::error_code control_request(uvc_control_channel& channel, UVCPropertyData& control, std::uint8_t request);

// Stores `value` as the control's current value and sends it with SET_CUR. A
// refused SET_CUR puts the current value back: the record keeps what the
// device holds, which later sets compare with and a reapply sends.
std::error_code set_control_value(uvc_control_channel& channel, UVCPropertyData& control, std::int32_t value);

} // namespace uvc_property
