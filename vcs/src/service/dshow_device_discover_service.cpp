#include "service/dshow_device_discover_service.h"

#include "gen_utils/log.h"
#include "service/service_components.h"
#include "service/service_holders.h"
#include "service/service_properties.h"

// Every method takes its own counted copy of the discover service first and
// works only with it; while the holder is empty the service is "missing".
// No exception leaves a method: each one answers E_FAIL instead.

STDMETHODIMP CDShowDeviceDiscoverService::GetDiscoveredDeviceList(DShowDeviceServer_DeviceId* pDevices,
                                                                  ULONG nDeviceListSize, ULONG* pnDevicesCount)
{
    if (pDevices == nullptr || pnDevicesCount == nullptr) {
        return E_POINTER;
    }
    try {
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        return E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::GetDeviceInstanceInfo(DShowDeviceServer_DeviceId* DeviceToQuery,
                                                                ICamTovraDeviceInfo** pDeviceInfoInterface)
{
    if (pDeviceInfoInterface == nullptr) {
        return E_POINTER;
    }
    *pDeviceInfoInterface = nullptr;
    if (DeviceToQuery == nullptr) {
        return E_POINTER;
    }
    try {
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        return E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::RegisterEventMailslot(ULONG, BSTR MailSlotName)
{
    if (MailSlotName == nullptr) {
        return E_POINTER;
    }
    try {
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        return E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::RemoveEventMailslot(ULONG, BSTR MailSlotName)
{
    if (MailSlotName == nullptr) {
        return E_POINTER;
    }
    try {
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        return E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::SetServiceProperty(ULONG ServiceProperty_id, unsigned char* pData,
                                                             ULONG cbDataSize)
{
    try {
        const auto store = service::components::service_defaults();
        return service::set_service_property(ServiceProperty_id, pData, cbDataSize, store.get());
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::GetServiceProperty(ULONG ServiceProperty_id, unsigned char* pData,
                                                             ULONG cbBufferSize, ULONG* cbDataSize)
{
    try {
        const auto store = service::components::service_defaults();
        return service::get_service_property(ServiceProperty_id, pData, cbBufferSize, cbDataSize, store.get());
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::CreateDevice(ULONG, DShowDeviceServer_DeviceId* DeviceToQuery,
                                                       IUnknown** ppDevice)
{
    if (DeviceToQuery == nullptr || ppDevice == nullptr) {
        return E_POINTER;
    }
    *ppDevice = nullptr;
    try {
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        return E_FAIL;
    } catch (const std::exception& e) {
        log_line(logging::level_error, "Failed a connect operation with : {}\n", e.what());
        return E_FAIL;
    } catch (...) {
        log_line(logging::level_error, "Create device died\n");
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceDiscoverService::AttachDeviceServer(ULONG, IUnknown* pUnknown)
{
    return pUnknown == nullptr ? E_POINTER : E_NOTIMPL;
}
