#pragma once
// A GenCP port opened through the driver library over the simulated camera,
// with the camera's GenCP responder and the log lines written meanwhile.

#include "sim_driver_io.h"

#include "device_impl/u3v/u3v_kyv_comm.h"
#include "gen_utils/cam_error.h"

#include <sim_gencp.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace u3v_test {

// Collects every log line (all categories, up to level 3) while it lives.
class log_lines {
public:
    log_lines();
    ~log_lines();
    std::vector<std::string> lines() const;
    // Lines that contain `part`.
    std::size_t count(const std::string& part) const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    std::uint32_t saved_level_;
    std::uint32_t saved_mask_;
};

class u3v_bench {
public:
    // A camera whose port keeps its files in `cache` (a cache of its own when
    // none is given).
    explicit u3v_bench(u3v_com::genicam_file_cache* cache = nullptr);
    ~u3v_bench();

    // Starts the driver over the camera and opens its device file; false on
    // failure (reported).
    bool start();
    std::error_code open() { return port.open(*device); }

    nox_um_test::sim_driver_io io;
    sim_camera::gencp_responder gencp{io.camera};
    std::unique_ptr<u3v_com::genicam_file_cache> own_cache;
    u3v_com::u3v_kyv_comm port;
    std::optional<nox_um::usb_device_handle> device;
};

inline std::error_code cam_error(std::uint32_t hresult)
{
    return make_cam_error(static_cast<HRESULT>(hresult));
}

inline sim_camera::bytes pattern(std::size_t size, std::uint8_t seed)
{
    sim_camera::bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
    }
    return out;
}

inline std::vector<std::uint8_t> description()
{
    return sim_camera::description_xml_bytes();
}

} // namespace u3v_test
