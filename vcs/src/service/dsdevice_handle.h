#pragma once
// The device object a client gets from CreateDevice: KS property requests,
// stream-format queries, the name of the device-lost event and stream
// channels, all on one camera shared through an active_device_handle. When
// the client's process ends, the object lets go of the camera at once.

#include <windows.h>

#include <memory>
#include <mutex>

#include "atl/com_object.h"
#include "atl/dispatch_impl.h"
#include "camtovra_service.h"
#include "service/active_device_handle.h"
#include "service/process_tracker.h"

// What a client's exit takes away from its device objects and stream
// channels. Kept apart from the COM object so that an exit action that runs
// while the object is being released never touches a destroyed object.
struct client_share {
    std::mutex mutex;
    std::weak_ptr<service::process_tracker> tracker;
    std::shared_ptr<cam_service::active_device_handle> handle;

    std::shared_ptr<cam_service::active_device_handle> copy_handle()
    {
        std::lock_guard lock(mutex);
        return handle;
    }
};

class CDSDevice_Handle : public atl::com_object<atl::dispatch_impl<ICamTovraDevice>> {
public:
    // An object made through the class object holds no handle: every method
    // answers as for a lost device.
    CDSDevice_Handle();
    ~CDSDevice_Handle() override;

    // The device object of one client. With a tracker, the object lets go of
    // the camera when that process ends; E_FAIL when it has ended already.
    static HRESULT create(std::shared_ptr<cam_service::active_device_handle> handle,
                          const std::shared_ptr<service::process_tracker>& tracker, IUnknown** object);

    STDMETHODIMP Set(GUID* guidPropSet, ULONG dwPropID, unsigned char* pInstanceData, ULONG cbInstanceData,
                     unsigned char* pPropData, ULONG cbPropData) override;
    STDMETHODIMP Get(GUID* guidPropSet, ULONG dwPropID, unsigned char* pInstanceData, ULONG cbInstanceData,
                     unsigned char* pPropData, ULONG cbPropData, ULONG* pcbReturned) override;
    STDMETHODIMP QuerySupported(GUID* guidPropSet, ULONG dwPropID, ULONG* pTypeSupport) override;
    STDMETHODIMP GetDeviceLostEventName(BSTR* EventName) override;
    STDMETHODIMP CreateStreamChannel(ICamTovraStreamChannel** ppStreamHandle,
                                     DShowDeviceServer_StreamFormat* SelectedFormat) override;
    STDMETHODIMP GetStreamFormatDesc(ULONG nBufferSize, DShowDeviceServer_StreamFormatInfo* pFormats,
                                     ULONG* nDataCount) override;
    STDMETHODIMP GetStreamFormatFrameRates(DShowDeviceServer_StreamFormat* Format, ULONG nBufferSize,
                                           UINT64* pBuffer, ULONG* nDataCount) override;
    STDMETHODIMP GetStreamFormatCurrent(DShowDeviceServer_StreamFormat* Format) override;
    STDMETHODIMP GetStreamFormatInputDesc(ULONG nBufferSize, DShowDeviceServer_StreamFormatInfo* pFormats,
                                          ULONG* nDataCount) override;

private:
    HRESULT format_desc(const char* method, ULONG nBufferSize, DShowDeviceServer_StreamFormatInfo* pFormats,
                        ULONG* nDataCount);

    std::shared_ptr<client_share> share_;
};
