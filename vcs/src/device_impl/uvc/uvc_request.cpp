#include "device_impl/uvc/uvc_request.h"

#include <algorithm>
#include <cstring>

#include "gen_utils/log.h"

namespace cam::uvc_cam {

noxkm::control_setup uvc_class_setup(std::uint8_t request, std::uint8_t unit_id, std::uint8_t interface_number,
                                     std::uint8_t selector) noexcept
{
    noxkm::control_setup setup{};
    setup.vendor = 0;
    setup.recipient = 1;
    setup.request = request;
    setup.value = static_cast<std::uint16_t>(selector << 8);
    setup.index = static_cast<std::uint16_t>(unit_id << 8 | interface_number);
    return setup;
}

std::error_code uvc_request(const nox_um::usb_device_handle& device, std::uint8_t request, std::uint8_t unit_id,
                            std::uint8_t interface_number, std::uint8_t selector, std::uint16_t length, void* buffer,
                            std::uint32_t* transferred)
{
    const noxkm::control_setup setup = uvc_class_setup(request, unit_id, interface_number, selector);
    const bool out = request == uvc_req::set_cur;
    const std::error_code ec = device.control(out ? IOCTL_NOXKM_CONTROL_OUT : IOCTL_NOXKM_CONTROL_IN, &setup,
                                              sizeof setup, buffer, length);
    if (transferred != nullptr) {
        *transferred = ec || out ? 0 : length;
    }
    if (ec) {
        log_line(logging::level_error,
                 "[CamTovra] , failed with status=0x{:x}, [unitId=0x{:x},ctrlId=0x{:x}] req_code=0x{:x}, itf={}.\n",
                 static_cast<std::uint32_t>(ec.value()), unit_id, selector, request, interface_number);
    }
    if (service_log_level.load(std::memory_order_relaxed) > 2 &&
        log_enabled(logging::level_trace | logging::cat_uvc_requests)) {
        std::uint32_t value = 0;
        if (buffer != nullptr) {
            std::uint8_t first[4]{};
            std::memcpy(first, buffer, std::min<std::size_t>(length, 4));
            value = first[0] | first[1] << 8 | first[2] << 16 | static_cast<std::uint32_t>(first[3]) << 24;
        }
        const auto status = static_cast<std::uint32_t>(ec.value());
        if (out) {
            log_line(logging::level_trace | logging::cat_uvc_requests,
                     "[CamTovra] (uvc-set-request) [unitId=0x{:x},ctrlId=0x{:x}] req_code=0x{:2x}, status=0x{:x}, "
                     "value=0x{:08x}.\n",
                     unit_id, selector, request, status, value);
        } else {
            log_line(logging::level_trace | logging::cat_uvc_requests,
                     "[CamTovra] (uvc-get-request) [unitId=0x{:x},ctrlId=0x{:x}] req_code=0x{:2x}, len={:2}, "
                     "status=0x{:x}, value=0x{:08x}.\n",
                     unit_id, selector, request, length, status, value);
        }
    }
    return ec;
}

} // namespace cam::uvc_cam
