#pragma once
// The simulated camera's register space as GenCP sees it: registers at fixed
// addresses, each writable or read-only. An access must lie inside one
// register; answers are GenCP status values.

#include "descriptors.h"

#include <cstdint>
#include <map>
#include <span>

namespace sim_camera {

inline constexpr std::uint16_t gencp_success = 0x0000;
inline constexpr std::uint16_t gencp_invalid_address = 0x8003;
inline constexpr std::uint16_t gencp_access_denied = 0x8006;

class register_map {
public:
    // Adds or replaces the register that starts at `address`.
    void add(std::uint64_t address, bytes value, bool read_only);
    void remove(std::uint64_t address);
    // Fills `out`; 0x8003 when no single register holds the whole range.
    std::uint16_t read(std::uint64_t address, std::span<std::uint8_t> out) const;
    // 0x8003 outside every register, 0x8006 for a read-only one.
    std::uint16_t write(std::uint64_t address, std::span<const std::uint8_t> data);

private:
    struct reg {
        bytes value;
        bool read_only = false;
    };
    // The register holding [address, address + length), or null.
    const std::pair<const std::uint64_t, reg>* find(std::uint64_t address, std::uint64_t length) const;

    std::map<std::uint64_t, reg> registers_;
};

} // namespace sim_camera
