#pragma once
// A camera as the property pages see it through the scripted test filter:
// the device-information block of a camera filter, named GenICam access
// without documents, and the vendor records and DirectShow controls behind
// the built-in items of all four pages (exposure, gain, partial scan and
// binning, trigger, strobe, white balance, focus).

#include "propertypage/ks_property_access.h"
#include "test_filter/genicam_service_script.h"
#include "test_filter/scripted_backend.h"
#include "test_filter/test_filter.h"

#include <memory>

namespace page_host {

struct scripted_camera {
    std::shared_ptr<test_filter::scripted_backend> backend = std::make_shared<test_filter::scripted_backend>();
    test_filter::genicam_service_script genicam;

    // `device_kind` is the first field of the device-information block (9 is
    // a camera filter of ours).
    explicit scripted_camera(std::uint32_t device_kind = 9);

    atl::com_ptr<test_filter::test_filter> make_filter(test_filter::offered_interfaces offered = {}) const;

    // The strobe record the camera starts with: on, a fixed duration of 20.
    static VCDAdapterHelper::strobe_record strobe_on();

    // From now on the vendor record of `id` starts as `record` and is kept as
    // the service keeps it: a Set whose value lies outside the record's
    // minimum and maximum is refused with E_INVALIDARG and changes nothing;
    // one inside changes the value and the flags alone. `unplug` leaves such
    // a record answering.
    void keep_in_range(DWORD id, const VCDAdapterHelper::vendor_int_record& record);
    void keep_in_range(DWORD id, const VCDAdapterHelper::vendor_float_record& record);

    // Every vendor property and control fails from now on with `hr`, as after
    // the camera was unplugged.
    void unplug(HRESULT hr = static_cast<HRESULT>(0x80070651L));
};

} // namespace page_host
