#pragma once
// Named values in the property store of one discovered camera, read and
// written without opening the camera. Not creatable through COM: clients get
// it from GetDeviceInstanceInfo.

#include <windows.h>

#include <memory>

#include "atl/com_object.h"
#include "atl/dispatch_impl.h"
#include "camtovra_service.h"
#include "service/active_device_info.h"

class CDShowDeviceInfo : public atl::com_object<atl::dispatch_impl<ICamTovraDeviceInfo>> {
public:
    explicit CDShowDeviceInfo(std::shared_ptr<cam_service::active_device_info> device = nullptr);

    // A new object sharing the camera's information record.
    static HRESULT create(std::shared_ptr<cam_service::active_device_info> device, ICamTovraDeviceInfo** object);

    STDMETHODIMP ReadProperty(LPWSTR pszPropName, VARIANT* pVar) override;
    STDMETHODIMP WriteProperty(LPWSTR pszPropName, VARIANT* pVar) override;

private:
    std::shared_ptr<cam_service::active_device_info> device_;
};

// The integer that WriteProperty stores for a VARIANT of a numeric type, or
// nothing for a type it does not take. Only the bytes that the type sets are
// read.
bool variant_to_stored_integer(const VARIANT& value, std::int64_t& stored) noexcept;
