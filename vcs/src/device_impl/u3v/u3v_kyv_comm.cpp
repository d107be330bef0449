#include "device_impl/u3v/u3v_kyv_comm.h"

#include "gen_utils/cam_error.h"

#include <fmt/format.h>

#include <array>
#include <string>
#include <system_error>

namespace u3v_com {
namespace {

noxkm::control_setup vendor_request(std::uint8_t request)
{
    return noxkm::control_setup{1, 0, request, 0, 0};
}

// Vendor, product and release of the device descriptor: what tells one
// model (and firmware) from another. Empty when the descriptor cannot be read.
std::string usb_model(nox_um::usb_device_handle& device)
{
    try {
        // A copy: the handle's cached descriptor is rewritten by every reader.
        const std::array<std::uint8_t, 18> d = device.get_device_descriptor();
        return fmt::format("{:04x}:{:04x}:{:04x}", d[8] | d[9] << 8, d[10] | d[11] << 8, d[12] | d[13] << 8);
    } catch (const std::system_error&) {
        return {};
    }
}

} // namespace

u3v_kyv_comm::u3v_kyv_comm(genicam_file_cache& cache) : gencp_port(cam_error_category(), cache) {}

std::error_code u3v_kyv_comm::open(nox_um::usb_device_handle& device)
{
    transfer_.device = &device;
    set_model(usb_model(device));
    return gencp_port::open(transfer_);
}

std::error_code u3v_kyv_comm::driver_transfer::control_out(std::uint8_t request, std::span<const std::uint8_t> data)
{
    const noxkm::control_setup setup = vendor_request(request);
    // The data stage travels in the output buffer of this direct-I/O code.
    return device->control(IOCTL_NOXKM_CONTROL_OUT, &setup, sizeof setup, const_cast<std::uint8_t*>(data.data()),
                           static_cast<DWORD>(data.size()));
}

std::error_code u3v_kyv_comm::driver_transfer::control_in(std::uint8_t request, std::span<std::uint8_t> data)
{
    const noxkm::control_setup setup = vendor_request(request);
    return device->control(IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, data.data(), static_cast<DWORD>(data.size()));
}

} // namespace u3v_com
