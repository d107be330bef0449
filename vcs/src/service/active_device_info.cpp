#include "service/active_device_info.h"

#include <utility>

#include "gen_utils/string_conv.h"

namespace cam_service {

namespace {
HKEY duplicate_key(HKEY key) noexcept
{
    if (key == nullptr) {
        return nullptr;
    }
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, reinterpret_cast<HANDLE>(key), self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return reinterpret_cast<HKEY>(copy);
}
} // namespace

active_device_info::active_device_info(const GUID& device_guid, HKEY device_key,
                                       std::shared_ptr<device_info_base> info)
    : device_guid_(device_guid), device_key_(duplicate_key(device_key)), info_(std::move(info))
{
}

std::wstring_view active_device_info::unique_key() const noexcept
{
    return info_ ? utils::string_view_from_cstr(info_->serial_number()) : std::wstring_view{};
}

std::wstring_view active_device_info::friendly_name() const noexcept
{
    return info_ ? utils::string_view_from_cstr(info_->product_name()) : std::wstring_view{};
}

std::shared_ptr<device_info_base> adopt_device_info(device_info_base* record)
{
    return std::shared_ptr<device_info_base>(record, ref_count_dtor{});
}

} // namespace cam_service
