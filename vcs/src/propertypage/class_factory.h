#pragma once
// The class object of one property-page class: makes pages from its own copy
// of the class's page template. Alive factories are counted for the module.

#include "propertypage/page_templates.h"

#include <atomic>

namespace camtovra_propertypage {

class CClassFactory final : public IClassFactory {
public:
    explicit CClassFactory(const page_template& page) noexcept;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // An aggregating caller may ask only for IID_IUnknown.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~CClassFactory();

    std::atomic<LONG> references_{0};
    page_template template_;
};

} // namespace camtovra_propertypage
