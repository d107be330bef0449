#pragma once
// The records that item-data objects exchange with the camera service through
// the filter's IKsPropertySet, and the access operations over them. A record
// travels in one buffer that is both the instance data and the property data;
// its first 24 bytes are the space of the KS property header and go out as
// zero. Every operation answers E_POINTER without a filter and writes its out
// values only when the filter answered S_OK with the whole record.

#include <windows.h>
#include <strmif.h>

#include "propertypage/vcd_item_data_base.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"
#include "device_impl/device_impl_tools/propset/property_reply.h"

#include <cstddef>
#include <cstdint>

namespace VCDAdapterHelper {

using cam::PROPSETID_COLOR_ENHANCE;
using cam::PROPSETID_FWCAM1394_CUSTOM_PROP;

// Ids of PROPSETID_FWCAM1394_CUSTOM_PROP that the items use.
namespace vendor {
inline constexpr DWORD whitebalance_blue = 101;
inline constexpr DWORD whitebalance_red = 102;
inline constexpr DWORD exposure_auto_reference = 106;
inline constexpr DWORD whitebalance_one_push = 107;
inline constexpr DWORD exposure_value = 109;
inline constexpr DWORD trigger = 115;
inline constexpr DWORD partial_scan_x = 118;
inline constexpr DWORD partial_scan_y = 119;
inline constexpr DWORD gpio = 122;
inline constexpr DWORD focus_one_push = 124;
inline constexpr DWORD strobe = 125;
inline constexpr DWORD exposure_seconds = 200;
inline constexpr DWORD exposure_auto_max_auto = 202;
inline constexpr DWORD whitebalance_green = 206;
inline constexpr DWORD partial_scan_auto_center = 211;
inline constexpr DWORD binning = 212;
inline constexpr DWORD trigger_software = 213;
inline constexpr DWORD trigger_delay = 238;
inline constexpr DWORD gain_hundredths = 241;
inline constexpr DWORD focus_auto_min = 244;
inline constexpr DWORD focus_auto_max = 245;
inline constexpr DWORD exposure_auto_max = 246;
inline constexpr DWORD focus_top = 247;
inline constexpr DWORD focus_left = 248;
inline constexpr DWORD focus_bottom = 249;
inline constexpr DWORD focus_right = 250;
inline constexpr DWORD focus_region = 251;
} // namespace vendor

// Flag bits of the records and of the two DirectShow interfaces.
inline constexpr std::uint32_t flag_auto = 1;
inline constexpr std::uint32_t flag_manual = 2;

// A Get that succeeded without delivering the whole record (S_FALSE or
// another success code, or fewer bytes than asked for).
inline constexpr HRESULT incomplete_reply = static_cast<HRESULT>(0x8007000DL); // ERROR_INVALID_DATA

struct vendor_int_record {
    std::uint8_t ks_header[24];
    std::int32_t value;
    std::uint32_t flags;
    std::uint32_t capabilities;
    std::int32_t minimum;
    std::int32_t maximum;
    std::int32_t default_value;
};
static_assert(sizeof(vendor_int_record) == cam::range_value_reply_size);
static_assert(offsetof(vendor_int_record, value) == 24 && offsetof(vendor_int_record, default_value) == 44);

struct vendor_float_record {
    std::uint8_t ks_header[24];
    float value;
    float minimum;
    float maximum;
    float default_value;
    std::uint32_t flags;
    std::uint32_t capabilities;
    std::uint8_t unused[8];
};
static_assert(sizeof(vendor_float_record) == cam::float_range_value_reply_size);
static_assert(offsetof(vendor_float_record, flags) == 40 && offsetof(vendor_float_record, capabilities) == 44);

struct gpio_record {
    std::uint8_t ks_header[24];
    std::uint32_t input_state;
    std::uint32_t output_state;
    std::uint32_t input_maximum;
    std::uint32_t output_maximum;
};
static_assert(sizeof(gpio_record) == 40);

struct strobe_record {
    std::uint8_t ks_header[24];
    std::uint32_t enable;
    std::uint32_t delay;
    std::uint32_t delay_minimum;
    std::uint32_t delay_maximum;
    std::uint32_t delay_default;
    std::uint32_t duration;
    std::uint32_t duration_minimum;
    std::uint32_t duration_maximum;
    std::uint32_t duration_default;
    std::uint32_t polarity;
    std::uint32_t kept_64;
    std::uint32_t follow_exposure;
    std::uint32_t kept_72;
    std::uint32_t capabilities;
    std::uint8_t kept_80[8];
};
static_assert(sizeof(strobe_record) == 88);
static_assert(offsetof(strobe_record, polarity) == 60 && offsetof(strobe_record, capabilities) == 76);

// True when QuerySupported succeeds with the get or the set bit.
bool ks_query_supported(IKsPropertySet* filter, const GUID& set, DWORD id) noexcept;

// The reads below take the item's refresh cache (none: every read goes to the
// camera); a write through a cache drops what it kept.

// Get into a zero-filled record of `size` bytes.
HRESULT ks_get_record(IKsPropertySet* filter, const GUID& set, DWORD id, void* record, DWORD size,
                      refresh_read_cache* cache = nullptr) noexcept;
// Set of a copy of the record whose header bytes are zero.
HRESULT ks_set_record(IKsPropertySet* filter, const GUID& set, DWORD id, const void* record, DWORD size,
                      refresh_read_cache* cache = nullptr) noexcept;

template <class Record>
HRESULT ks_get_record(IKsPropertySet* filter, const GUID& set, DWORD id, Record& record,
                      refresh_read_cache* cache = nullptr) noexcept
{
    Record read{};
    const HRESULT hr = ks_get_record(filter, set, id, &read, sizeof(read), cache);
    if (SUCCEEDED(hr)) {
        record = read;
    }
    return hr;
}
template <class Record>
HRESULT ks_set_record(IKsPropertySet* filter, const GUID& set, DWORD id, const Record& record,
                      refresh_read_cache* cache = nullptr) noexcept
{
    return ks_set_record(filter, set, id, &record, sizeof(record), cache);
}

// Integer and float records of PROPSETID_FWCAM1394_CUSTOM_PROP.
HRESULT ks_get_int(IKsPropertySet* filter, DWORD id, std::int32_t& value, refresh_read_cache* cache = nullptr) noexcept;
// {minimum, maximum, default} of the record and step 1.
HRESULT ks_get_int_range(IKsPropertySet* filter, DWORD id, int_range& range,
                         refresh_read_cache* cache = nullptr) noexcept;
// A zero-filled record with the value and flags 2.
HRESULT ks_set_int(IKsPropertySet* filter, DWORD id, std::int32_t value, refresh_read_cache* cache = nullptr) noexcept;
HRESULT ks_get_float(IKsPropertySet* filter, DWORD id, vendor_float_record& record,
                     refresh_read_cache* cache = nullptr) noexcept;
// A zero-filled record with the value (in single precision) and flags 2;
// E_INVALIDARG, and nothing sent, for a value that single precision cannot
// hold (a typed number far past its range, infinity, NaN).
HRESULT ks_set_float(IKsPropertySet* filter, DWORD id, double value, refresh_read_cache* cache = nullptr) noexcept;

// The DirectShow controls' current value and flags, and their writes.
HRESULT control_get(IAMCameraControl* control, long property, LONG& value, LONG& flags,
                    refresh_read_cache* cache = nullptr) noexcept;
HRESULT control_get(IAMVideoProcAmp* control, long property, LONG& value, LONG& flags,
                    refresh_read_cache* cache = nullptr) noexcept;
HRESULT control_set(IAMCameraControl* control, long property, LONG value, LONG flags,
                    refresh_read_cache* cache = nullptr) noexcept;
HRESULT control_set(IAMVideoProcAmp* control, long property, LONG value, LONG flags,
                    refresh_read_cache* cache = nullptr) noexcept;

} // namespace VCDAdapterHelper
