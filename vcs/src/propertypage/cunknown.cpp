#include "propertypage/cunknown.h"

#include "propertypage/module_objects.h"

CUnknown::CUnknown(IUnknown* outer) noexcept : owner_(outer != nullptr ? outer : inner_unknown())
{
    camtovra_propertypage::object_created();
}

CUnknown::~CUnknown()
{
    camtovra_propertypage::object_destroyed();
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = inner_unknown();
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    const LONG count = ++references_;
    return static_cast<ULONG>(count < 1 ? 1 : count);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    const LONG count = --references_;
    if (count == 0) {
        // The destructor may take and drop references of its own: keep the
        // count away from zero so that it cannot delete the object again.
        references_ = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count < 1 ? 1 : count);
}
