#include "propertypage/page_templates.h"

#include "propertypage/page_resources.h"
#include "propertypage/property_page.h"

#include <new>
#include <string>
#include <vector>

namespace camtovra_propertypage {

namespace {

HRESULT create_page(UINT title_id, std::vector<std::wstring> categories, IUnknown* outer, IUnknown** inner)
{
    if (inner == nullptr) {
        return E_POINTER;
    }
    *inner = nullptr;
    tmpPageInstance* page = nullptr;
    try {
        page = new tmpPageInstance(title_id, std::move(categories), outer);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *inner = page->nondelegating_unknown();
    return S_OK;
}

HRESULT create_exposure_page(IUnknown* outer, IUnknown** inner)
{
    return create_page(IDS_PAGE_TITLE_EXPOSURE, {L"Exposure", L"Image", L"WDR"}, outer, inner);
}

HRESULT create_feature_page(IUnknown* outer, IUnknown** inner)
{
    return create_page(IDS_PAGE_TITLE_FEATURE, {L"Special", L"Partial Scan", L"Partial scan"}, outer, inner);
}

HRESULT create_lens_page(IUnknown* outer, IUnknown** inner)
{
    return create_page(IDS_PAGE_TITLE_LENS, {L"Lens"}, outer, inner);
}

HRESULT create_color_page(IUnknown* outer, IUnknown** inner)
{
    return create_page(IDS_PAGE_TITLE_COLOR, {L"Color"}, outer, inner);
}

constexpr page_template templates[] = {
    {GUID{},
     {0xb167753e, 0x7ab6, 0x4198, {0x93, 0x7a, 0xd0, 0xc0, 0x17, 0xdc, 0xb4, 0xe7}},
     &create_exposure_page,
     L"CamTovra Exposure Controls"},
    {GUID{},
     {0x3ce14b85, 0x7a53, 0x49a0, {0x89, 0xf1, 0x2b, 0x1d, 0x74, 0xeb, 0x35, 0xf6}},
     &create_feature_page,
     L"CamTovra Feature Controls"},
    {GUID{},
     {0x968ccd0a, 0x7fb3, 0x4717, {0x9e, 0xd8, 0x37, 0x04, 0x35, 0xa2, 0x70, 0xcd}},
     &create_lens_page,
     L"CamTovra Lens Controls"},
    {GUID{},
     {0x4e523fcd, 0x7780, 0x4aff, {0x97, 0x63, 0x98, 0x71, 0x4a, 0x65, 0x1b, 0x23}},
     &create_color_page,
     L"CamTovra Color Controls"},
};

} // namespace

std::span<const page_template> page_templates() noexcept
{
    return templates;
}

} // namespace camtovra_propertypage
