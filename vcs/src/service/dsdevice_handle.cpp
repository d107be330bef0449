#include "service/dsdevice_handle.h"

#include <cstddef>
#include <cstdint>
#include <new>

#include "gen_utils/log.h"
#include "service/dsdevice_stream_channel.h"

namespace {
constexpr std::uint32_t ks_call_trace = logging::level_ks_trace | logging::cat_ks_calls;

static_assert(sizeof(ULONG) == sizeof(std::uint32_t));
std::uint32_t* as_u32(ULONG* value) noexcept
{
    return reinterpret_cast<std::uint32_t*>(value);
}

std::uint32_t hr_bits(HRESULT hr) noexcept
{
    return static_cast<std::uint32_t>(hr);
}

// The camera behind a handle, or null when either is gone.
std::shared_ptr<cam_service::active_device_base> device_of(
    const std::shared_ptr<cam_service::active_device_handle>& handle)
{
    return handle ? handle->device() : nullptr;
}
} // namespace

CDSDevice_Handle::CDSDevice_Handle() : share_(std::make_shared<client_share>()) {}

CDSDevice_Handle::~CDSDevice_Handle()
{
    std::shared_ptr<service::process_tracker> tracker;
    {
        std::lock_guard lock(share_->mutex);
        tracker = share_->tracker.lock();
    }
    if (tracker) {
        tracker->remove_exit_action(this);
    }
    // With the handle the camera goes back to the active device list.
    std::shared_ptr<cam_service::active_device_handle> handle;
    std::lock_guard lock(share_->mutex);
    handle.swap(share_->handle);
}

HRESULT CDSDevice_Handle::create(std::shared_ptr<cam_service::active_device_handle> handle,
                                 const std::shared_ptr<service::process_tracker>& tracker, IUnknown** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    auto* created = new (std::nothrow) atl::heap_object<CDSDevice_Handle>();
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    created->AddRef();
    const std::shared_ptr<client_share> share = created->share_;
    share->handle = std::move(handle);
    share->tracker = tracker;
    if (tracker) {
        const std::weak_ptr<client_share> weak = share;
        const bool added = tracker->add_exit_action(static_cast<CDSDevice_Handle*>(created), [weak] {
            if (const auto alive = weak.lock()) {
                std::shared_ptr<cam_service::active_device_handle> dropped;
                std::lock_guard lock(alive->mutex);
                alive->tracker.reset();
                dropped.swap(alive->handle);
            }
        });
        if (!added) {
            created->Release();
            return E_FAIL;
        }
    }
    const HRESULT hr = created->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(object));
    created->Release();
    return hr;
}

STDMETHODIMP CDSDevice_Handle::Set(GUID* guidPropSet, ULONG dwPropID, unsigned char* pInstanceData,
                                   ULONG cbInstanceData, unsigned char* pPropData, ULONG cbPropData)
{
    try {
        const auto handle = share_->copy_handle();
        if (!handle) {
            return cam_service::device_gone;
        }
        return handle->set(guidPropSet, dwPropID, pInstanceData, cbInstanceData, pPropData, cbPropData);
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::Get(GUID* guidPropSet, ULONG dwPropID, unsigned char* pInstanceData,
                                   ULONG cbInstanceData, unsigned char* pPropData, ULONG cbPropData,
                                   ULONG* pcbReturned)
{
    try {
        const auto handle = share_->copy_handle();
        if (!handle) {
            return cam_service::device_gone;
        }
        return handle->get(guidPropSet, dwPropID, pInstanceData, cbInstanceData, pPropData, cbPropData,
                           as_u32(pcbReturned));
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::QuerySupported(GUID* guidPropSet, ULONG dwPropID, ULONG* pTypeSupport)
{
    try {
        const auto handle = share_->copy_handle();
        if (!handle) {
            return cam_service::device_gone;
        }
        return handle->query_supported(guidPropSet, dwPropID, as_u32(pTypeSupport));
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::GetDeviceLostEventName(BSTR* EventName)
{
    if (EventName == nullptr) {
        return E_POINTER;
    }
    try {
        const auto handle = share_->copy_handle();
        if (!device_of(handle)) {
            return cam_service::device_gone;
        }
        const std::wstring& name = handle->event_name();
        if (name.empty()) {
            return E_FAIL;
        }
        BSTR copy = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        if (copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        *EventName = copy;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::CreateStreamChannel(ICamTovraStreamChannel** ppStreamHandle,
                                                   DShowDeviceServer_StreamFormat* SelectedFormat)
{
    // Both pointers are checked before anything is prepared on the camera.
    if (SelectedFormat == nullptr || ppStreamHandle == nullptr) {
        return E_POINTER;
    }
    *ppStreamHandle = nullptr;
    try {
        std::shared_ptr<service::process_tracker> tracker;
        std::shared_ptr<cam_service::active_device_handle> handle;
        {
            std::lock_guard lock(share_->mutex);
            tracker = share_->tracker.lock();
            handle = share_->handle;
        }
        // Without a tracker nobody would close the channel of a client that
        // died: a device object made for process id 0 cannot stream.
        if (!tracker || !handle) {
            return cam_service::device_gone;
        }
        // The camera's reason for a refusal reaches the client unchanged. A
        // client whose handle was lost hears 0x80070651, as of a removed
        // camera: its lost event stays set, so it would hear of no failure of
        // a new stream; it opens the camera anew instead.
        return CDSDevice_StreamChannel::create(handle, tracker, *SelectedFormat, ppStreamHandle);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CDSDevice_Handle::format_desc(const char* method, ULONG nBufferSize,
                                      DShowDeviceServer_StreamFormatInfo* pFormats, ULONG* nDataCount)
{
    if (nDataCount == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(share_->copy_handle());
        if (!device) {
            return cam_service::device_gone;
        }
        const HRESULT hr = device->get_stream_format_desc(nBufferSize, pFormats, as_u32(nDataCount));
        log_line(ks_call_trace, "[CamTovra] {}( {}, ... ) -> hr = {:#x}\n", method, nBufferSize, hr_bits(hr));
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::GetStreamFormatDesc(ULONG nBufferSize, DShowDeviceServer_StreamFormatInfo* pFormats,
                                                   ULONG* nDataCount)
{
    return format_desc("GetStreamFormatDesc", nBufferSize, pFormats, nDataCount);
}

STDMETHODIMP CDSDevice_Handle::GetStreamFormatInputDesc(ULONG nBufferSize,
                                                        DShowDeviceServer_StreamFormatInfo* pFormats,
                                                        ULONG* nDataCount)
{
    return format_desc("GetStreamFormatInputDesc", nBufferSize, pFormats, nDataCount);
}

STDMETHODIMP CDSDevice_Handle::GetStreamFormatFrameRates(DShowDeviceServer_StreamFormat* Format, ULONG nBufferSize,
                                                         UINT64* pBuffer, ULONG* nDataCount)
{
    if (Format == nullptr || nDataCount == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(share_->copy_handle());
        if (!device) {
            return cam_service::device_gone;
        }
        const HRESULT hr = device->get_stream_format_frame_rates(Format, pBuffer, nBufferSize, as_u32(nDataCount));
        log_line(ks_call_trace, "[CamTovra] GetStreamFormatFrameRates( ., {}, ... ) -> hr = {:#x}\n", nBufferSize,
                 hr_bits(hr));
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_Handle::GetStreamFormatCurrent(DShowDeviceServer_StreamFormat* Format)
{
    if (Format == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(share_->copy_handle());
        if (!device) {
            return cam_service::device_gone;
        }
        return device->get_stream_format_current(Format);
    } catch (...) {
        return E_FAIL;
    }
}

// The records cross processes as they are laid out here.
static_assert(sizeof(DShowDeviceServer_DeviceId) == 144 && offsetof(DShowDeviceServer_DeviceId, DeviceGUID) == 128);
static_assert(sizeof(DShowDeviceServer_StreamFormat) == 32 &&
              offsetof(DShowDeviceServer_StreamFormat, Dimension) == 4 &&
              offsetof(DShowDeviceServer_StreamFormat, AverageTimePerFrame) == 16 &&
              offsetof(DShowDeviceServer_StreamFormat, ScalingFactorsId) == 24);
static_assert(sizeof(DShowDeviceServer_StreamFormatInfo) == 72 &&
              offsetof(DShowDeviceServer_StreamFormatInfo, MinDim) == 12 &&
              offsetof(DShowDeviceServer_StreamFormatInfo, StepDim) == 28 &&
              offsetof(DShowDeviceServer_StreamFormatInfo, MinAvgTimePerFrame) == 40 &&
              offsetof(DShowDeviceServer_StreamFormatInfo, SourceStreamFormatId) == 64 &&
              offsetof(DShowDeviceServer_StreamFormatInfo, Flags) == 68);
static_assert(sizeof(DShowDeviceServer_StreamFrame) == 8);
static_assert(sizeof(DShowDeviceServer_FrameCountInfo) == 48 &&
              offsetof(DShowDeviceServer_FrameCountInfo, frames_dropped_due_to_unspecified) == 40);
