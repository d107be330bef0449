#include "page_host/filter_with_pages.h"

#include <new>

namespace page_host {

atl::com_ptr<filter_with_pages> filter_with_pages::create(atl::com_ptr<IUnknown> filter, std::vector<CLSID> pages)
{
    return atl::com_ptr<filter_with_pages>(new filter_with_pages(std::move(filter), std::move(pages)));
}

filter_with_pages::filter_with_pages(atl::com_ptr<IUnknown> filter, std::vector<CLSID> pages)
    : filter_(std::move(filter)), pages_(std::move(pages))
{
}

HRESULT STDMETHODCALLTYPE filter_with_pages::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISpecifyPropertyPages)) {
        AddRef();
        *object = static_cast<ISpecifyPropertyPages*>(this);
        return S_OK;
    }
    return filter_->QueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE filter_with_pages::AddRef()
{
    return static_cast<ULONG>(++references_);
}

ULONG STDMETHODCALLTYPE filter_with_pages::Release()
{
    const LONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE filter_with_pages::GetPages(CAUUID* pages)
{
    if (pages == nullptr) {
        return E_POINTER;
    }
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(pages_.size() * sizeof(GUID)));
    if (pages->pElems == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (const CLSID& page : pages_) {
        pages->pElems[pages->cElems++] = page;
    }
    return S_OK;
}

} // namespace page_host
