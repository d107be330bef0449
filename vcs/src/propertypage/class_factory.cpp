#include "propertypage/class_factory.h"

#include "propertypage/page_module.h"

namespace camtovra_propertypage {

CClassFactory::CClassFactory(const page_template& page) noexcept : template_(page)
{
    class_factory_created();
}

CClassFactory::~CClassFactory()
{
    class_factory_destroyed();
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    return static_cast<ULONG>(++references_);
}

STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    const LONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) {
        return E_NOINTERFACE;
    }
    IUnknown* inner = nullptr;
    const HRESULT created = template_.create(outer, &inner);
    if (inner == nullptr) {
        return FAILED(created) ? created : E_OUTOFMEMORY;
    }
    if (FAILED(created)) {
        inner->AddRef();
        inner->Release();
        return created;
    }
    // The inner unknown's own count: a failed query destroys the object.
    inner->AddRef();
    const HRESULT asked = inner->QueryInterface(iid, object);
    inner->Release();
    return asked;
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock)
{
    lock_server(lock != FALSE);
    return S_OK;
}

} // namespace camtovra_propertypage
