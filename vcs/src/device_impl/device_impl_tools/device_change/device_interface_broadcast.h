#pragma once
// Reading the record of a WM_DEVICECHANGE broadcast: the arrival or removal of
// a device interface, checked against the size its header claims.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace device_change {

// DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE.
inline constexpr WPARAM device_arrival = 0x8000;
inline constexpr WPARAM device_remove_complete = 0x8004;
inline constexpr DWORD device_type_interface = 5;
// The smallest record read: header, class GUID and two name characters.
inline constexpr DWORD min_interface_record_size = 32;

struct device_interface_event {
    std::wstring name;
    GUID interface_class{};
    bool removed = false;
};

// The event of a WM_DEVICECHANGE whose `event` is an arrival or a completed
// removal and whose `record` is a device-interface record of at least 32
// bytes; none for anything else. The name ends at its first zero or at the
// record's claimed end, whichever comes first.
std::optional<device_interface_event> read_device_interface_broadcast(WPARAM event, LPARAM record);

// A device-interface record as the system broadcasts it (size, type 5, class,
// the name with its terminating zero), for a process that announces a change
// to its own window. DWORD-aligned storage.
std::vector<DWORD> make_device_interface_broadcast(std::wstring_view name, const GUID& interface_class);

} // namespace device_change
