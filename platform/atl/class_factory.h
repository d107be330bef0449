#pragma once
// The class factory of a singleton class: every CreateInstance hands out the
// same process-wide object, made on the first request.

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <mutex>

#include "atl/com_object.h"

namespace atl {

// Creates the class object of a class; null when the class has no factory.
using class_factory_creator = HRESULT (*)(IClassFactory** factory);

template <class T>
class singleton_class_factory final : public com_object<IClassFactory> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        try {
            std::call_once(made_, [] { instance_holder() = std::make_unique<global_object<T>>(); });
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return instance_holder()->QueryInterface(iid, object);
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock) {
            module_lock();
        } else {
            module_unlock();
        }
        return S_OK;
    }

    // class_factory_creator for T.
    static HRESULT create(IClassFactory** factory) noexcept
    {
        if (factory == nullptr) {
            return E_POINTER;
        }
        *factory = new (std::nothrow) singleton_class_factory;
        if (*factory == nullptr) {
            return E_OUTOFMEMORY;
        }
        (*factory)->AddRef();
        return S_OK;
    }

private:
    // One object per class for the life of the process, whichever factory made it.
    static std::unique_ptr<global_object<T>>& instance_holder()
    {
        static std::unique_ptr<global_object<T>> instance;
        return instance;
    }
    static inline std::once_flag made_;

    std::atomic<ULONG> references_{0};
};

} // namespace atl
