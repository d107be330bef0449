#include "page_host/scripted_camera.h"

#include "propertypage/ks_property_access.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace page_host {

namespace {

using namespace VCDAdapterHelper;
using test_filter::control_interface;
using test_filter::scripted_control;

vendor_int_record int_record(std::int32_t value, std::int32_t minimum, std::int32_t maximum, std::uint32_t flags = 2,
                             std::uint32_t capabilities = 0)
{
    vendor_int_record record{};
    record.value = value;
    record.flags = flags;
    record.capabilities = capabilities;
    record.minimum = minimum;
    record.maximum = maximum;
    record.default_value = minimum;
    return record;
}

vendor_float_record float_record(float value, float minimum, float maximum, std::uint32_t capabilities = 0)
{
    vendor_float_record record{};
    record.value = value;
    record.minimum = minimum;
    record.maximum = maximum;
    record.default_value = value;
    record.flags = 2;
    record.capabilities = capabilities;
    return record;
}

} // namespace

strobe_record scripted_camera::strobe_on()
{
    strobe_record record{};
    record.enable = 1;
    record.delay_maximum = 1000;
    record.duration = 20;
    record.duration_minimum = 10;
    record.duration_maximum = 1000;
    record.duration_default = 20;
    return record;
}

namespace {

// Vendor ids that the scripted camera answers.
constexpr DWORD scripted_ids[] = {vendor::exposure_seconds, vendor::gain_hundredths, vendor::trigger,
                                  vendor::trigger_software, vendor::trigger_delay, vendor::partial_scan_x,
                                  vendor::partial_scan_y, vendor::partial_scan_auto_center, vendor::binning,
                                  vendor::whitebalance_red, vendor::whitebalance_blue, vendor::focus_one_push,
                                  vendor::strobe};

} // namespace

scripted_camera::scripted_camera(std::uint32_t device_kind)
{
    std::array<std::uint8_t, 144> info{};
    std::memcpy(info.data(), &device_kind, sizeof(device_kind));
    backend->set_property(cam::PROPSETID_DRIVER_INFO_REQ, 0,
                          test_filter::scripted_property::answering({info.begin(), info.end()}));
    genicam.install(*backend);

    const GUID& custom = PROPSETID_FWCAM1394_CUSTOM_PROP;
    // Exposure: 1/10000 s to 4 s, automatic mode possible; the camera
    // control's exposure gives the integer value.
    backend->set_record(custom, vendor::exposure_seconds, float_record(0.004f, 0.0001f, 4.0f, 1));
    backend->set_control(control_interface::camera_control, CameraControl_Exposure,
                         scripted_control{-8, 2, -13, 1, 1, -8, 3});
    // Gain in hundredths of a dB, 0 to 24 dB; the proc-amp's gain 0 to 480.
    backend->set_record(custom, vendor::gain_hundredths, int_record(600, 0, 2400));
    backend->set_control(control_interface::video_proc_amp, VideoProcAmp_Gain,
                         scripted_control{120, 2, 0, 480, 1, 0, 3});
    // Trigger off (bit 2), polarity and operation possible; software trigger
    // and delay present.
    backend->set_record(custom, vendor::trigger, int_record(0, 0, 1, 0x4, 0x3000000));
    backend->set_record(custom, vendor::trigger_software, int_record(0, 0, 1));
    backend->set_record(custom, vendor::trigger_delay, float_record(0, 0, 1000));
    // Strobe on, for a fixed duration of 20 (10 to 1000), no delay.
    backend->set_record(custom, vendor::strobe, strobe_on());
    // Partial scan with auto-center off, and the (hidden) binning factor.
    backend->set_record(custom, vendor::partial_scan_auto_center, int_record(0, 0, 1));
    backend->set_record(custom, vendor::partial_scan_x, int_record(0, 0, 640));
    backend->set_record(custom, vendor::partial_scan_y, int_record(0, 0, 480));
    backend->set_record(custom, vendor::binning, int_record(1, 1, 4));
    // White balance: red and blue channels, automatic mode off.
    backend->set_record(custom, vendor::whitebalance_red, int_record(64, 0, 255));
    backend->set_record(custom, vendor::whitebalance_blue, int_record(64, 0, 255));
    backend->set_control(control_interface::video_proc_amp, VideoProcAmp_WhiteBalance,
                         scripted_control{5000, 2, 2800, 6500, 10, 5000, 3});
    // Focus with one-push.
    backend->set_record(custom, vendor::focus_one_push, int_record(0, 0, 1));
    backend->set_control(control_interface::camera_control, CameraControl_Focus,
                         scripted_control{100, 2, 0, 1000, 1, 100, 3});
}

atl::com_ptr<test_filter::test_filter> scripted_camera::make_filter(test_filter::offered_interfaces offered) const
{
    return test_filter::test_filter::create(backend, offered);
}

namespace {

template <class Record>
void keep_record_in_range(test_filter::scripted_backend& backend, DWORD id, const Record& record)
{
    const GUID& custom = PROPSETID_FWCAM1394_CUSTOM_PROP;
    backend.set_record(custom, id, record); // what QuerySupported answers
    // The responders run under the backend's lock: the record is their own.
    auto kept = std::make_shared<Record>(record);
    backend.respond_get(custom, id,
                        [kept](std::span<const std::uint8_t>, std::span<std::uint8_t> data, DWORD& returned) {
                            returned = static_cast<DWORD>(std::min(data.size(), sizeof(Record)));
                            std::memcpy(data.data(), kept.get(), returned);
                            return S_OK;
                        });
    backend.respond_set(custom, id, [kept](std::span<const std::uint8_t>, std::span<const std::uint8_t> data) {
        const auto written = test_filter::record_of<Record>(data);
        if (!(written.value >= kept->minimum && written.value <= kept->maximum)) {
            return E_INVALIDARG;
        }
        kept->value = written.value;
        kept->flags = written.flags;
        return S_OK;
    });
}

} // namespace

void scripted_camera::keep_in_range(DWORD id, const vendor_int_record& record)
{
    keep_record_in_range(*backend, id, record);
}

void scripted_camera::keep_in_range(DWORD id, const vendor_float_record& record)
{
    keep_record_in_range(*backend, id, record);
}

void scripted_camera::unplug(HRESULT hr)
{
    for (const DWORD id : scripted_ids) {
        backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, id, test_filter::scripted_property::failing(hr));
    }
    for (const auto& [which, property] :
         {std::pair{control_interface::camera_control, long{CameraControl_Exposure}},
          std::pair{control_interface::camera_control, long{CameraControl_Focus}},
          std::pair{control_interface::video_proc_amp, long{VideoProcAmp_Gain}},
          std::pair{control_interface::video_proc_amp, long{VideoProcAmp_WhiteBalance}}}) {
        scripted_control gone;
        gone.get_result = gone.set_result = gone.range_result = hr;
        backend->set_control(which, property, gone);
    }
}

} // namespace page_host
