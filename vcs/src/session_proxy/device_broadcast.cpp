#include "session_proxy/device_broadcast.h"

#include <algorithm>

#include "service/session_mailslot.h"

namespace session_proxy {

device_interface_record::device_interface_record(std::wstring_view key)
{
    std::wstring name(device_name_prefix);
    name.append(key);
    size_ = 2 * name.size() + 34;
    storage_.assign((size_ + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    DEV_BROADCAST_DEVICEINTERFACE_W* record = get();
    record->dbcc_size = static_cast<DWORD>(size_);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_reserved = 0;
    record->dbcc_classguid = capture_category;
    std::copy(name.begin(), name.end(), record->dbcc_name);
}

broadcast_call system_broadcast()
{
    return [](DWORD flags, DWORD recipients, UINT message, WPARAM wparam, LPARAM lparam) {
        return BroadcastSystemMessageW(flags, &recipients, message, wparam, lparam);
    };
}

long broadcast_device_change(const broadcast_call& broadcast, std::wstring_view key, std::uint32_t kind)
{
    device_interface_record record(key);
    const WPARAM event =
        kind == DShowDeviceService::device_event::removed ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL;
    return broadcast(BSF_FORCEIFHUNG, BSM_APPLICATIONS, WM_DEVICECHANGE, event,
                     reinterpret_cast<LPARAM>(record.get()));
}

} // namespace session_proxy
