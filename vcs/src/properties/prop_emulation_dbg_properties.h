#pragma once
// The service's debug switches of one camera: the frame path's three flags,
// the export-debug-properties flag, the maximum concurrency of the frame's
// consumer, and the process-wide log level and log categories. Clients reach
// them through PROPSETID_GENERIC_DRIVER_INTERFACE ids 19-22 and through the
// registers of the camera's own GenICam document (PROPSETID_EMULATED_REGISTER,
// the register address's low 32 bits as id); the document's debug features
// are implemented only while debug properties are exported.

#include <atomic>
#include <cstdint>

#include "device_impl/device_impl_tools/propset.h"
#include "genicam/doc_builder.h"

namespace prop_emulation {

// Read by the frame path on its completion thread while requests set them.
struct debug_flags {
    std::atomic<bool> show_overlay{false};
    std::atomic<bool> force_clear_buffers{false};
    std::atomic<bool> drop_incomplete_frames{true};
};

class dbg_properties final : public cam::property_req_entry_itf {
public:
    // PROPSETID_GENERIC_DRIVER_INTERFACE.
    static constexpr std::uint32_t id_export = 19;
    static constexpr std::uint32_t id_show_overlay = 20;
    static constexpr std::uint32_t id_force_clear_buffers = 21;
    static constexpr std::uint32_t id_drop_incomplete_frames = 22;
    // PROPSETID_EMULATED_REGISTER: the registers of the debug block, at
    // 0xCEBB0001000000xx of the camera's own document.
    static constexpr std::uint32_t id_implemented = 0x20;
    static constexpr std::uint32_t id_max_concurrency = 0x24;
    static constexpr std::uint32_t id_log_level = 0x28;
    static constexpr std::uint32_t id_log_genicam = 0x2C;
    static constexpr std::uint32_t id_log_u3v = 0x30;
    static constexpr std::uint32_t id_log_uvc = 0x34;
    static constexpr std::uint64_t register_block = 0xCEBB000100000000ull;

    // Registers the handler at level 2 for its ten keys, adds the debug
    // register block and the three flag features to `document` and registers
    // the flags' handlers in the registry's table. The registry's property
    // store is kept for the export test; call once.
    void build(gen_property::gen_property_reqistry& registry, gcxml::doc_builder& document);

    debug_flags& flags() noexcept { return flags_; }
    const debug_flags& flags() const noexcept { return flags_; }
    // 0: the consumer's default.
    std::int32_t max_concurrency() const noexcept { return max_concurrency_.load(std::memory_order_relaxed); }
    bool export_flag() const noexcept { return export_; }

    // 4-byte integer replies.
    std::error_code get_request(KsPropDataRequest& request) override;
    // The first 4 bytes of the value.
    std::error_code set_request(KsPropDataRequest& request) override;
    // "show_overlay", "force_clear_buffers", "drop_incomplete_frames": each
    // stored integer sets its flag to (value != 0). Nothing is saved.
    void load_value(utils::property_store_itf& store) override;

private:
    bool exported() const;

    utils::property_store_itf* store_ = nullptr;
    bool export_ = false;
    std::atomic<std::int32_t> max_concurrency_{0};
    debug_flags flags_;
};

} // namespace prop_emulation
