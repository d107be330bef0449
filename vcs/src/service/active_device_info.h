#pragma once
// One present camera as the discover service knows it: the factory's record,
// the camera's stable device GUID and its registry key under "devices". Made
// once per rescan and never changed afterwards; a holder keeps it valid after
// the camera has gone.

#include <windows.h>

#include <memory>
#include <string_view>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "gen_utils/registry.h"

namespace cam_service {

class active_device_info {
public:
    // Keeps its own duplicate of device_key (which may be null); the caller
    // keeps and closes the original.
    active_device_info(const GUID& device_guid, HKEY device_key, std::shared_ptr<device_info_base> info);

    const GUID& device_guid() const noexcept { return device_guid_; }
    HKEY device_key() const noexcept { return device_key_.get(); }
    const std::shared_ptr<device_info_base>& info() const noexcept { return info_; }

    // The factory's texts; empty when the record gives none.
    std::wstring_view unique_key() const noexcept;
    std::wstring_view friendly_name() const noexcept;

private:
    GUID device_guid_;
    utils::unique_hkey device_key_;
    std::shared_ptr<device_info_base> info_;
};

// Shares ownership of a factory record, releasing its reference at the end.
std::shared_ptr<device_info_base> adopt_device_info(device_info_base* record);

} // namespace cam_service
