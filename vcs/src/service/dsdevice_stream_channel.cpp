#include "service/dsdevice_stream_channel.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

namespace {
constexpr std::size_t name_block_bytes = 256;
constexpr std::size_t base_data_bytes = 260;

// A BSTR of the zero-terminated UTF-16 name at the start of a block, read no
// further than the block's 256 bytes even when the camera left no zero.
BSTR name_from_block(const unsigned char* block)
{
    wchar_t name[name_block_bytes / sizeof(wchar_t)];
    std::memcpy(name, block, sizeof(name));
    const std::size_t length = wcsnlen(name, std::size(name));
    return SysAllocStringLen(name, static_cast<UINT>(length));
}

std::shared_ptr<cam_service::active_device_base> device_of(client_share& share)
{
    const auto handle = share.copy_handle();
    return handle ? handle->device() : nullptr;
}
} // namespace

CDSDevice_StreamChannel::CDSDevice_StreamChannel() : share_(std::make_shared<client_share>()) {}

CDSDevice_StreamChannel::~CDSDevice_StreamChannel()
{
    std::shared_ptr<service::process_tracker> tracker;
    {
        std::lock_guard lock(share_->mutex);
        tracker = share_->tracker.lock();
    }
    if (tracker) {
        tracker->remove_exit_action(this);
    }
    close(*share_);
}

void CDSDevice_StreamChannel::close(client_share& share) noexcept
{
    std::shared_ptr<cam_service::active_device_handle> handle;
    {
        std::lock_guard lock(share.mutex);
        handle.swap(share.handle);
    }
    if (handle) {
        handle->close_stream_channel(); // nothing when the camera is gone
    }
}

HRESULT CDSDevice_StreamChannel::create(const std::shared_ptr<cam_service::active_device_handle>& handle,
                                        const std::shared_ptr<service::process_tracker>& tracker,
                                        const DShowDeviceServer_StreamFormat& format,
                                        ICamTovraStreamChannel** channel)
{
    *channel = nullptr;
    if (!handle) {
        return cam_service::device_gone;
    }
    DShowDeviceServer_StreamFormat selected = format;
    if (const HRESULT hr = handle->create_stream_channel(&selected); FAILED(hr)) {
        return hr;
    }
    auto* created = new (std::nothrow) atl::heap_object<CDSDevice_StreamChannel>();
    if (created == nullptr) {
        handle->close_stream_channel();
        return E_FAIL;
    }
    created->AddRef();
    const std::shared_ptr<client_share> share = created->share_;
    share->handle = handle;
    share->tracker = tracker;
    const std::weak_ptr<client_share> weak = share;
    const bool added = tracker && tracker->add_exit_action(static_cast<CDSDevice_StreamChannel*>(created), [weak] {
        if (const auto alive = weak.lock()) {
            {
                std::lock_guard lock(alive->mutex);
                alive->tracker.reset();
            }
            close(*alive);
        }
    });
    if (!added) {
        // Closed once, here: the object goes without closing again.
        {
            std::lock_guard lock(share->mutex);
            share->handle.reset();
            share->tracker.reset();
        }
        created->Release();
        handle->close_stream_channel();
        return E_FAIL;
    }
    *channel = created;
    return S_OK;
}

STDMETHODIMP CDSDevice_StreamChannel::GetBaseData(BSTR* pSemaphoreName, ULONG* pFrameCount)
{
    if (pSemaphoreName == nullptr || pFrameCount == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(*share_);
        if (!device) {
            return cam_service::device_gone;
        }
        unsigned char block[base_data_bytes] = {};
        const HRESULT hr = device->get_base_data(block);
        if (FAILED(hr)) {
            return hr;
        }
        BSTR name = name_from_block(block);
        if (name == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::uint32_t count = 0;
        std::memcpy(&count, block + name_block_bytes, sizeof(count));
        *pSemaphoreName = name;
        *pFrameCount = count;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::GetFrameInfo(ULONG idx, BSTR* pFrameName, UINT64* pShmFrameId)
{
    if (pFrameName == nullptr || pShmFrameId == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(*share_);
        if (!device) {
            return cam_service::device_gone;
        }
        unsigned char block[name_block_bytes] = {};
        std::uint64_t id = 0;
        if (FAILED(device->get_frame_info(idx, block, &id))) {
            return E_INVALIDARG;
        }
        BSTR name = name_from_block(block);
        if (name == nullptr) {
            return E_OUTOFMEMORY;
        }
        *pFrameName = name;
        *pShmFrameId = id;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::GetReadyFrame(DShowDeviceServer_StreamFrame* ready_frame_id,
                                                    DShowDeviceServer_FrameCountInfo* frame_count_info)
{
    if (ready_frame_id == nullptr || frame_count_info == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(*share_);
        if (!device) {
            return cam_service::device_gone;
        }
        std::uint64_t id = 0;
        const HRESULT hr = device->get_ready_frame(&id, frame_count_info);
        ready_frame_id->shm_id = id;
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::ReleaseFrame(UINT64 frame_id)
{
    try {
        const auto device = device_of(*share_);
        if (!device) {
            return cam_service::device_gone;
        }
        device->release_frame(frame_id);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::StartStream()
{
    try {
        const auto device = device_of(*share_);
        return device ? device->start_stream() : cam_service::device_gone;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::PauseStream()
{
    try {
        const auto device = device_of(*share_);
        return device ? device->pause_stream() : cam_service::device_gone;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDSDevice_StreamChannel::GetStreamFormat(unsigned int* MediaTypeFourCC, SIZE* Dimensions,
                                                      unsigned int* ImageDataSizeMax)
{
    if (MediaTypeFourCC == nullptr || Dimensions == nullptr || ImageDataSizeMax == nullptr) {
        return E_POINTER;
    }
    try {
        const auto device = device_of(*share_);
        if (!device) {
            return cam_service::device_gone;
        }
        const cam::stream_format format = device->get_stream_format();
        *MediaTypeFourCC = format.fourcc;
        Dimensions->cx = format.width;
        Dimensions->cy = format.height;
        *ImageDataSizeMax = format.buffer_length;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
