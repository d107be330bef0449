#pragma once
// Tells the applications of this session that a camera arrived or left, as a
// WM_DEVICECHANGE broadcast of a device interface in the capture category, as
// a plug-and-play camera would.

#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace session_proxy {

inline constexpr std::wstring_view device_name_prefix = L"CamTovraDevice:";
// KSCATEGORY_CAPTURE {65E8773D-8F56-11D0-A3B9-00A0C9223196}
inline constexpr GUID capture_category = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// DEV_BROADCAST_DEVICEINTERFACE_W for "CamTovraDevice:" + key, zero-filled:
// dbcc_size is twice the name's length plus 34, which leaves four zero bytes
// after the name's terminating zero.
class device_interface_record {
public:
    explicit device_interface_record(std::wstring_view key);

    DEV_BROADCAST_DEVICEINTERFACE_W* get() noexcept
    {
        return reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage_.data());
    }
    std::size_t size() const noexcept { return size_; }

private:
    std::vector<DWORD> storage_; // DWORD-aligned, as the record's fields need
    std::size_t size_ = 0;
};

// BroadcastSystemMessageW, or a test's stand-in for it.
using broadcast_call =
    std::function<long(DWORD flags, DWORD recipients, UINT message, WPARAM wparam, LPARAM lparam)>;
broadcast_call system_broadcast();

// Broadcasts the camera's arrival, or its removal for kind 2, to the
// applications (BSF_FORCEIFHUNG, BSM_APPLICATIONS). Returns the call's result.
long broadcast_device_change(const broadcast_call& broadcast, std::wstring_view key, std::uint32_t kind);

} // namespace session_proxy
