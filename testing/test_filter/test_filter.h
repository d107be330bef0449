#pragma once
// An in-process capture filter for tests. QueryInterface answers only the
// interfaces the test offers; every call goes to the backend. The two
// DirectShow control interfaces have the same operations, so each is a face
// of its own that shares the filter's reference count.

#include "test_filter/filter_backend.h"

#include "atl/com_ptr.h"

#include <atomic>
#include <memory>

namespace test_filter {

struct offered_interfaces {
    bool property_set = true;
    bool video_proc_amp = true;
    bool camera_control = true;
};

class test_filter final : public IKsPropertySet {
public:
    // A new filter with one reference.
    static atl::com_ptr<test_filter> create(std::shared_ptr<filter_backend> backend, offered_interfaces offered = {});

    // The filter as the property pages receive it: its IKsPropertySet, or,
    // when it offers none, its IUnknown seen through that type (for asking
    // QueryInterface only).
    IKsPropertySet* as_property_set() noexcept { return this; }
    LONG references() const noexcept { return references_.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instance_length, LPVOID data,
                                  DWORD data_length) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instance_length, LPVOID data,
                                  DWORD data_length, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

private:
    template <class Interface, control_interface Which>
    class control_face final : public Interface {
    public:
        explicit control_face(test_filter& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
        {
            return owner_.QueryInterface(iid, object);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
        HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step, LONG* default_value,
                                           LONG* flags) override
        {
            return owner_.backend_->control_range(Which, property, minimum, maximum, step, default_value, flags);
        }
        HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override
        {
            return owner_.backend_->control_set(Which, property, value, flags);
        }
        HRESULT STDMETHODCALLTYPE Get(LONG property, LONG* value, LONG* flags) override
        {
            return owner_.backend_->control_get(Which, property, value, flags);
        }

    private:
        test_filter& owner_;
    };

    test_filter(std::shared_ptr<filter_backend> backend, offered_interfaces offered);
    ~test_filter() = default;

    std::shared_ptr<filter_backend> backend_;
    offered_interfaces offered_;
    control_face<IAMVideoProcAmp, control_interface::video_proc_amp> proc_amp_{*this};
    control_face<IAMCameraControl, control_interface::camera_control> camera_control_{*this};
    std::atomic<LONG> references_{1};
};

} // namespace test_filter
