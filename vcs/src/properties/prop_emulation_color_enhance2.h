#pragma once
// The colour-enhance items that tell a client how the service processes the
// camera's colours: item 11 the processing mode code, item 12 the sensor's
// colour-filter pattern (or -1 while it is hidden). Read only.

#include <cstdint>
#include <string_view>

#include "device_impl/device_impl_tools/propset.h"

namespace prop_emulation {

class color_enhance2 final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t id_mode = 11;
    static constexpr std::uint32_t id_pattern = 12;

    // Pattern indices.
    static constexpr std::int32_t bggr = 0;
    static constexpr std::int32_t gbrg = 1;
    static constexpr std::int32_t grbg = 2;
    static constexpr std::int32_t rggb = 3;

    // The first variant: mode code 12, pattern hidden.
    void set_first_variant() noexcept;
    // The second variant: mode code 15, pattern shown.
    void set_second_variant() noexcept;

    // The pattern index of a Bayer FOURCC ("BA81" and "BY8 " BGGR, "GBRG",
    // "GRBG", "RGGB"); -1 for any other.
    static std::int32_t pattern_of_fourcc(std::uint32_t fourcc) noexcept;
    void set_pattern(std::int32_t index) noexcept { pattern_ = index; }
    std::int32_t pattern() const noexcept { return pattern_; }
    std::int32_t mode_code() const noexcept { return mode_code_; }
    bool pattern_hidden() const noexcept { return pattern_hidden_; }

    // Items 11 and 12: 48-byte records; other ids 0x80004001.
    std::error_code get_request(KsPropDataRequest& request) override;
    // Read only: 0x80004001.
    std::error_code set_request(KsPropDataRequest& request) override;

private:
    std::int32_t mode_code_ = 12;
    bool pattern_hidden_ = true;
    std::int32_t pattern_ = bggr;
};

} // namespace prop_emulation
