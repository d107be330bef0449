#pragma once
// The GenCP register port of one USB3 Vision camera over the driver: every
// command and acknowledge is one vendor control transfer on the camera's
// device file. The camera object owns it, opens it during its feature set-up
// and binds it as the `Device` port of the camera's node map.

#include "device_impl/u3v/gencp_port.h"

#include <nox_um/usb_device_handle.h>

namespace u3v_com {

class u3v_kyv_comm final : public gencp_port {
public:
    explicit u3v_kyv_comm(genicam_file_cache& cache = genicam_file_cache::process_cache());

    // Binds the port to the camera's device file (not owned; it must outlive
    // the port's use), reads the device's limits, capability and name, and
    // fetches its GenICam file.
    std::error_code open(nox_um::usb_device_handle& device);

private:
    // Vendor requests to the device (recipient 0, value 0, index 0) through
    // IOCTL_NOXKM_CONTROL_OUT and IOCTL_NOXKM_CONTROL_IN.
    class driver_transfer final : public gencp_transfer {
    public:
        nox_um::usb_device_handle* device = nullptr;
        std::error_code control_out(std::uint8_t request, std::span<const std::uint8_t> data) override;
        std::error_code control_in(std::uint8_t request, std::span<std::uint8_t> data) override;
    };

    driver_transfer transfer_;
};

} // namespace u3v_com
