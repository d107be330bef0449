#pragma once
// IDispatch of a dual interface, answered through the interface's type info
// in the executable's type library.

#include <windows.h>
#include <ole2.h>

#include <mutex>

#include "atl/com_ptr.h"
#include "atl/type_library.h"

namespace atl {

template <class I>
class dispatch_impl : public I {
public:
    using interface_type = I;

    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (info == nullptr) {
            return E_POINTER;
        }
        *info = nullptr;
        if (index != 0) {
            return DISP_E_BADINDEX;
        }
        ITypeInfo* found = type_info();
        if (found == nullptr) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        found->AddRef();
        *info = found;
        return S_OK;
    }

    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!IsEqualIID(iid, IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        ITypeInfo* found = type_info();
        if (found == nullptr) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        return found->GetIDsOfNames(names, count, ids);
    }

    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argument_error) override
    {
        if (!IsEqualIID(iid, IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        ITypeInfo* found = type_info();
        if (found == nullptr) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        return found->Invoke(static_cast<I*>(this), id, flags, parameters, result, exception, argument_error);
    }

private:
    // Loaded once per interface; null when the executable carries no library.
    static ITypeInfo* type_info()
    {
        try {
            static com_ptr<ITypeInfo> info = [] {
                com_ptr<ITypeInfo> loaded;
                com_ptr<ITypeLib> library;
                if (SUCCEEDED(load_module_type_library(library.put()))) {
                    library->GetTypeInfoOfGuid(__uuidof(I), loaded.put());
                }
                return loaded;
            }();
            return info.get();
        } catch (...) {
            return nullptr;
        }
    }
};

} // namespace atl
