#pragma once
// The UVC controls a camera announces in the bmControls bit maps of its
// camera terminal, processing unit and vendor extension units, one record
// each, with the values read from the device. Platform-free.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_impl/uvc/uvc_descriptor_tree.h"

namespace uvc_property {

enum unit_kind : std::uint32_t { unit_none = 0, unit_ct = 2, unit_pu = 5, unit_xu = 6 };

struct UVCPropertyData {
    std::uint32_t kind = unit_none;
    std::uint32_t selector = 0;
    std::uint8_t unit_id = 0;
    std::uint32_t length = 0; // bytes of the value; 0: control unusable
    std::array<std::uint8_t, 16> current{};
    std::array<std::uint8_t, 16> minimum{};
    std::array<std::uint8_t, 16> maximum{};
    std::array<std::uint8_t, 16> default_value{};
    std::array<std::uint8_t, 16> resolution{};
    std::uint8_t info = 0; // bit 0 GET supported, bit 1 SET supported
    bool resolution_read = false;
    bool range_read = false;
    bool default_read = false;

    // A value as an integer of the control's length: 1 byte unsigned, 2 bytes
    // signed 16-bit, otherwise signed 32-bit.
    [[nodiscard]] static std::int32_t read(const std::array<std::uint8_t, 16>& field, std::uint32_t length) noexcept;
    [[nodiscard]] std::int32_t value() const noexcept { return read(current, length); }
    // Stores a 32-bit integer at the start of the current value.
    void set_value(std::int32_t v) noexcept;
    // Range controls have a minimum or maximum other than 0, and not the
    // 0 / -1 pair of a bit map; all others are bit maps.
    [[nodiscard]] bool is_range() const noexcept;
    // "property (PU ctrl=0x2,unit_id=0x2)"
    [[nodiscard]] std::string description() const;
};

// One row of the control table: which bit of which unit kind means which
// selector, and its value length.
struct control_row {
    std::uint32_t kind;
    std::uint32_t selector;
    std::uint32_t bit;
    std::uint32_t length;
};

// The vendor extension unit whose controls the table lists.
extern const std::array<std::uint8_t, 16> vendor_extension_unit_guid;

// Every record the tree's units announce, in the order camera terminal,
// processing unit, extension units. Control bytes come only from each unit's
// bmControls as the tree limited it to the descriptor.
[[nodiscard]] std::vector<UVCPropertyData> announced_controls(const cam::uvc_cam::uvc_descriptor_tree& tree);

// The first camera terminal (wTerminalType 0x0201) of the tree, or null.
[[nodiscard]] const cam::uvc_cam::unit_descriptor* camera_terminal(const cam::uvc_cam::uvc_descriptor_tree& tree);

// The store name of the packed white-balance component (blue and red). With
// a usable white-balance temperature control too, whose value is stored as
// "WhitebalanceTemperature", it is "WhitebalanceComponent", so that loading
// one never writes the other's value to the device; alone it keeps
// "WhitebalanceTemperature", so values stored before stay readable.
[[nodiscard]] const wchar_t* whitebalance_component_store_name(const std::vector<UVCPropertyData>& controls);

// Logs what is inconsistent about a read control (never rejects it).
void check_consistency(const UVCPropertyData& control);

} // namespace uvc_property
