#pragma once
// The one creatable COM class of the service: clients list the discovered
// cameras, get their device-information and device objects, register event
// mailslots and read and write the service-wide properties. One object serves
// every client (singleton factory), free-threaded.

#include <windows.h>

#include "atl/com_object.h"
#include "atl/dispatch_impl.h"
#include "camtovra_service.h"
#include "service/process_tracker.h"

class CDShowDeviceDiscoverService : public atl::com_object<atl::dispatch_impl<ICamTovraDiscoverService>> {
public:
    STDMETHODIMP GetDiscoveredDeviceList(DShowDeviceServer_DeviceId* pDevices, ULONG nDeviceListSize,
                                         ULONG* pnDevicesCount) override;
    STDMETHODIMP GetDeviceInstanceInfo(DShowDeviceServer_DeviceId* DeviceToQuery,
                                       ICamTovraDeviceInfo** pDeviceInfoInterface) override;
    STDMETHODIMP RegisterEventMailslot(ULONG ProcessId, BSTR MailSlotName) override;
    STDMETHODIMP RemoveEventMailslot(ULONG ProcessId, BSTR MailSlotName) override;
    STDMETHODIMP SetServiceProperty(ULONG ServiceProperty_id, unsigned char* pData, ULONG cbDataSize) override;
    STDMETHODIMP GetServiceProperty(ULONG ServiceProperty_id, unsigned char* pData, ULONG cbBufferSize,
                                    ULONG* cbDataSize) override;
    STDMETHODIMP CreateDevice(ULONG ProcessId, DShowDeviceServer_DeviceId* DeviceToQuery,
                              IUnknown** ppDevice) override;
    STDMETHODIMP AttachDeviceServer(ULONG ProcessId, IUnknown* pUnknown) override;

private:
    // One tracker per client process that created a device object.
    service::process_tracker_map clients_;
};
