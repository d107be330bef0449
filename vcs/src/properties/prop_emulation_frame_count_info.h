#pragma once
// The camera's six frame counters and the handler that reports them
// (PROPSETID_GENERIC_DRIVER_INTERFACE id 25, get only, the 48-byte
// DShowDeviceServer_FrameCountInfo record). The frame path stores new counts
// from its completion thread while requests read them: each counter is an
// atomic of its own.

#include <array>
#include <atomic>
#include <cstdint>

#include "device_impl/device_impl_tools/frame_server_itf.h"
#include "device_impl/device_impl_tools/propset.h"

namespace prop_emulation {

class frame_count_info final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t id = 25;
    static constexpr std::uint32_t record_size = 48;

    static cam::property_req_key key() noexcept { return {cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id}; }

    void store(const cam::frame_counts& counts) noexcept;
    cam::frame_counts snapshot() const noexcept;
    // All six to zero (at every successful stream start).
    void reset() noexcept { store({}); }

    // 48 bytes needed (a get reports 48); the counters in record order.
    std::error_code get_request(KsPropDataRequest& request) override;
    // Read only: 0x80004001.
    std::error_code set_request(KsPropDataRequest& request) override;

private:
    std::array<std::atomic<std::uint64_t>, 6> counters_{};
};

} // namespace prop_emulation
