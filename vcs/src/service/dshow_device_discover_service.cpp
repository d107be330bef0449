#include "service/dshow_device_discover_service.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "service/discover_service.h"
#include "service/dsdevice_handle.h"
#include "service/dshow_device_info.h"
#include "service/service_components.h"
#include "service/service_holders.h"
#include "service/service_properties.h"

// Every method takes its own counted copy of the discover service first and
// works only with it; while the holder is empty the service is "missing".
// No exception leaves a method: each one answers E_FAIL instead.

namespace {
// The key of a client's record: its first 127 bytes up to the first zero, as UTF-16.
std::wstring key_of(const DShowDeviceServer_DeviceId& record)
{
    const std::size_t length = strnlen(record.UniqueKey, sizeof(record.UniqueKey) - 1);
    return utils::to_utf16(std::string_view(record.UniqueKey, length));
}

std::shared_ptr<cam_service::active_device_info> find_device(const service::discover_service& service,
                                                             const DShowDeviceServer_DeviceId& record)
{
    return service.find_device(key_of(record), record.DeviceGUID);
}
} // namespace

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
        const auto devices = service->get_device_list();
        if (nDeviceListSize < devices.size()) {
            *pnDevicesCount = static_cast<ULONG>(devices.size());
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            DShowDeviceServer_DeviceId& record = pDevices[i];
            record.DeviceGUID = devices[i]->device_guid();
            const std::string key = utils::to_utf8(devices[i]->unique_key());
            const std::size_t copied = std::min(key.size() + 1, sizeof(record.UniqueKey));
            std::memcpy(record.UniqueKey, key.c_str(), copied);
            record.UniqueKey[sizeof(record.UniqueKey) - 1] = 0;
        }
        *pnDevicesCount = static_cast<ULONG>(devices.size());
        return S_OK;
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
        auto device = find_device(*service, *DeviceToQuery);
        if (!device) {
            return E_INVALIDARG;
        }
        return SUCCEEDED(CDShowDeviceInfo::create(std::move(device), pDeviceInfoInterface)) ? S_OK : E_FAIL;
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
        return service->add_mailslot_client(std::wstring_view(MailSlotName, SysStringLen(MailSlotName)));
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
        return service->remove_client(std::wstring_view(MailSlotName, SysStringLen(MailSlotName))) ? S_OK : S_FALSE;
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

STDMETHODIMP CDShowDeviceDiscoverService::CreateDevice(ULONG ProcessId, DShowDeviceServer_DeviceId* DeviceToQuery,
                                                       IUnknown** ppDevice)
{
    if (DeviceToQuery == nullptr || ppDevice == nullptr) {
        return E_POINTER;
    }
    *ppDevice = nullptr;
    try {
        const DShowDeviceServer_DeviceId query = *DeviceToQuery;
        const auto service = service::discover_service_instance().load();
        if (!service) {
            return E_FAIL;
        }
        const auto device = find_device(*service, query);
        if (!device) {
            return E_INVALIDARG;
        }
        // Between the discover service and the list at start-up, and after a
        // stop has emptied the list's holder, there is no list to ask.
        const auto list = cam_service::active_device_list_instance().load();
        if (!list) {
            return E_FAIL;
        }
        auto handle = list->open_device(device->device_guid(), device);
        if (!handle) {
            return E_INVALIDARG;
        }
        const auto tracker = clients_.tracker_for(ProcessId);
        return CDSDevice_Handle::create(std::move(handle), tracker, ppDevice);
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
