#pragma once
// The four property-page classes: per class its CLSID, display name and the
// operation that makes its page. The order is the registration order and the
// order in which a CLSID is looked up.

#include <windows.h>
#include <unknwn.h>

#include <span>

namespace camtovra_propertypage {

// Makes a page aggregated by `outer` (null: not aggregated); hands out its
// inner unknown with one reference.
using create_page_fn = HRESULT (*)(IUnknown* outer, IUnknown** inner);

struct page_template {
    // Null when the page belongs to no property set.
    GUID property_set;
    CLSID page_clsid;
    create_page_fn create;
    wchar_t display_name[32];
};

std::span<const page_template> page_templates() noexcept;

} // namespace camtovra_propertypage
