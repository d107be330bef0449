#pragma once
// A test filter that also names its property pages, as a capture filter does
// through ISpecifyPropertyPages: the property frame is given this object.
// Every other interface is the inner filter's.

#include <windows.h>
#include <ocidl.h>

#include "atl/com_ptr.h"

#include <atomic>
#include <vector>

namespace page_host {

class filter_with_pages final : public ISpecifyPropertyPages {
public:
    // A new object with one reference.
    static atl::com_ptr<filter_with_pages> create(atl::com_ptr<IUnknown> filter, std::vector<CLSID> pages);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

private:
    filter_with_pages(atl::com_ptr<IUnknown> filter, std::vector<CLSID> pages);
    ~filter_with_pages() = default;

    atl::com_ptr<IUnknown> filter_;
    std::vector<CLSID> pages_;
    std::atomic<LONG> references_{1};
};

} // namespace page_host
