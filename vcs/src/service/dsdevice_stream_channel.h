#pragma once
// One video stream of a device object. The frame channel itself belongs to the
// camera; the client learns the names of its shared-memory frames and
// semaphore here, starts and pauses the stream, takes ready frames and gives
// them back. The camera is told to close the channel once: when the client
// releases the object or when its process ends, whichever comes first.

#include <windows.h>

#include <memory>

#include "atl/com_object.h"
#include "atl/dispatch_impl.h"
#include "camtovra_service.h"
#include "service/dsdevice_handle.h"

class CDSDevice_StreamChannel : public atl::com_object<atl::dispatch_impl<ICamTovraStreamChannel>> {
public:
    // An object made through the class object holds no handle.
    CDSDevice_StreamChannel();
    ~CDSDevice_StreamChannel() override;

    // Prepares the camera's frame channel for `format` through `handle` and
    // makes the channel object for the tracked client in `*channel`. When the
    // camera refuses (a channel already open: E_ACCESSDENIED; an unknown
    // format: E_INVALIDARG; ...) its result comes back unchanged, so the
    // client learns why; 0x80070651 when the camera is gone or the handle is
    // lost, as every call of a removed camera answers; E_FAIL when the client
    // has exited (the camera's channel is then closed again). `*channel`
    // stays null on failure.
    static HRESULT create(const std::shared_ptr<cam_service::active_device_handle>& handle,
                          const std::shared_ptr<service::process_tracker>& tracker,
                          const DShowDeviceServer_StreamFormat& format, ICamTovraStreamChannel** channel);

    STDMETHODIMP GetBaseData(BSTR* pSemaphoreName, ULONG* pFrameCount) override;
    STDMETHODIMP GetFrameInfo(ULONG idx, BSTR* pFrameName, UINT64* pShmFrameId) override;
    STDMETHODIMP GetReadyFrame(DShowDeviceServer_StreamFrame* ready_frame_id,
                               DShowDeviceServer_FrameCountInfo* frame_count_info) override;
    STDMETHODIMP ReleaseFrame(UINT64 frame_id) override;
    STDMETHODIMP StartStream() override;
    STDMETHODIMP PauseStream() override;
    STDMETHODIMP GetStreamFormat(unsigned int* MediaTypeFourCC, SIZE* Dimensions,
                                 unsigned int* ImageDataSizeMax) override;

private:
    // Tells the camera to close the channel (when it is still there) and
    // lets go of the handle.
    static void close(client_share& share) noexcept;

    std::shared_ptr<client_share> share_;
};
