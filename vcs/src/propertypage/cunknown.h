#pragma once
// Base of every COM object of the library: the inner unknown of an object that
// may be aggregated, with its reference count. Alive objects are counted for
// the module.

#include "dshow/nondelegating_unknown.h"

#include <atomic>

class CUnknown : public INonDelegatingUnknown {
public:
    // `outer` is the aggregating object; null when not aggregated, and the
    // object's own inner unknown then stands for it.
    explicit CUnknown(IUnknown* outer = nullptr) noexcept;
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    // IID_IUnknown gives the inner unknown; nothing else here.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    // The new count, never below 1.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    // Deletes the object at zero and answers 0; otherwise the count, never
    // below 1.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;
    virtual ~CUnknown();

    // The unknown that callers see: the outer object or the inner unknown.
    IUnknown* owner() const noexcept { return owner_; }

protected:
    // The inner unknown in IUnknown's clothes: the same three slots.
    IUnknown* inner_unknown() noexcept
    {
        return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
    }

private:
    IUnknown* owner_;
    std::atomic<LONG> references_{0};
};
