#pragma once
// The software image processing that a camera's offered formats call for,
// and what follows from it: the format code of the device information, the
// Bayer pattern of the colour enhancement, the formats the tone mapping reads.

#include <cstdint>
#include <span>

namespace cam::impl {

enum class image_processing_mode : std::uint32_t {
    mono = 0,                // mono or anything else (the default)
    bayer8 = 1,              // 8-bit Bayer
    polarization_single = 2, // "P180"
    polarization_other = 3,  // "P280", "P216", "P2CP", "P2Cp"
};

// Polarization formats of more than one kind win over "P180", which wins
// over the 8-bit Bayer formats; anything else is mono.
[[nodiscard]] image_processing_mode select_processing_mode(std::span<const std::uint32_t> fourccs) noexcept;

// Bayer pattern of the first offered format among "P180"/"BA81" (0), "GBRG"
// (1), "GRBG" (2), "RGGB" (3); 0 when there is none.
[[nodiscard]] std::uint8_t select_bayer_pattern(std::span<const std::uint32_t> fourccs) noexcept;

// Device-information offset 280: 1 mono, 4 Bayer, 17 single polarization,
// 16 other polarization formats.
[[nodiscard]] std::uint32_t device_format_code(image_processing_mode mode) noexcept;

// True for the formats whose frames the automatic tone mapping measures.
[[nodiscard]] bool tone_mapped_format(std::uint32_t fourcc) noexcept;

} // namespace cam::impl
