#pragma once
// The inner unknown of an object that can be aggregated: its reference count
// and interface list, apart from the IUnknown that callers see (which forwards
// to the outer object when there is one). The three operations have the
// calling convention and slot order of IUnknown, so the object's inner unknown
// can be handed out as an IUnknown.

#include <windows.h>
#include <unknwn.h>

struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};
