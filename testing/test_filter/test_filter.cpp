#include "test_filter/test_filter.h"

#include <new>

namespace test_filter {

atl::com_ptr<test_filter> test_filter::create(std::shared_ptr<filter_backend> backend, offered_interfaces offered)
{
    return atl::com_ptr<test_filter>(new test_filter(std::move(backend), offered));
}

test_filter::test_filter(std::shared_ptr<filter_backend> backend, offered_interfaces offered)
    : backend_(std::move(backend)), offered_(offered)
{
}

HRESULT STDMETHODCALLTYPE test_filter::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || (offered_.property_set && IsEqualIID(iid, __uuidof(IKsPropertySet)))) {
        *object = static_cast<IKsPropertySet*>(this);
    } else if (offered_.video_proc_amp && IsEqualIID(iid, __uuidof(IAMVideoProcAmp))) {
        *object = static_cast<IAMVideoProcAmp*>(&proc_amp_);
    } else if (offered_.camera_control && IsEqualIID(iid, __uuidof(IAMCameraControl))) {
        *object = static_cast<IAMCameraControl*>(&camera_control_);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE test_filter::AddRef()
{
    return static_cast<ULONG>(++references_);
}

ULONG STDMETHODCALLTYPE test_filter::Release()
{
    const LONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE test_filter::Set(REFGUID set, DWORD id, LPVOID instance, DWORD instance_length, LPVOID data,
                                           DWORD data_length)
{
    return backend_->ks_set(set, id, instance, instance_length, data, data_length);
}

HRESULT STDMETHODCALLTYPE test_filter::Get(REFGUID set, DWORD id, LPVOID instance, DWORD instance_length, LPVOID data,
                                           DWORD data_length, DWORD* returned)
{
    return backend_->ks_get(set, id, instance, instance_length, data, data_length, returned);
}

HRESULT STDMETHODCALLTYPE test_filter::QuerySupported(REFGUID set, DWORD id, DWORD* support)
{
    return backend_->ks_query_supported(set, id, support);
}

} // namespace test_filter
