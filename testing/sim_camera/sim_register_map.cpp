#include "sim_register_map.h"

#include <cstring>

namespace sim_camera {

void register_map::add(std::uint64_t address, bytes value, bool read_only)
{
    registers_[address] = reg{std::move(value), read_only};
}

void register_map::remove(std::uint64_t address)
{
    registers_.erase(address);
}

const std::pair<const std::uint64_t, register_map::reg>* register_map::find(std::uint64_t address,
                                                                            std::uint64_t length) const
{
    auto found = registers_.upper_bound(address);
    if (found == registers_.begin()) {
        return nullptr;
    }
    --found;
    const std::uint64_t offset = address - found->first;
    const std::uint64_t size = found->second.value.size();
    if (offset > size || length > size - offset || (length == 0 && offset == size)) {
        return nullptr;
    }
    return &*found;
}

std::uint16_t register_map::read(std::uint64_t address, std::span<std::uint8_t> out) const
{
    const auto* found = find(address, out.size());
    if (found == nullptr) {
        return gencp_invalid_address;
    }
    if (!out.empty()) {
        std::memcpy(out.data(), found->second.value.data() + (address - found->first), out.size());
    }
    return gencp_success;
}

std::uint16_t register_map::write(std::uint64_t address, std::span<const std::uint8_t> data)
{
    const auto* found = find(address, data.size());
    if (found == nullptr) {
        return gencp_invalid_address;
    }
    if (found->second.read_only) {
        return gencp_access_denied;
    }
    auto& target = registers_.at(found->first).value;
    if (!data.empty()) {
        std::memcpy(target.data() + (address - found->first), data.data(), data.size());
    }
    return gencp_success;
}

} // namespace sim_camera
