#pragma once
// The base of the property pages: the IPropertyPage operations that every
// page answers alike, and the page's dialog (template IDD) whose messages go
// to the page.

#include "propertypage/page_module.h"
#include "propertypage/page_resources.h"

#include "atl/property_page_impl.h"
#include "atl/window.h"

namespace uvc_page {

class CUVCBasePage : public ATL::IPropertyPageImpl<CUVCBasePage>,
                     public ATL::CDialogImpl<CUVCBasePage, ATL::CWindow> {
public:
    static constexpr int IDD = IDD_PROPERTY_PAGE;

    HWND page_window() const noexcept { return m_hWnd; }
    HINSTANCE page_module() const noexcept { return camtovra_propertypage::module_instance(); }

    // The page window's messages; true when handled, with the result.
    virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      LRESULT& result) = 0;

protected:
    explicit CUVCBasePage(UINT title_id) noexcept { m_dwTitleID = title_id; }
};

} // namespace uvc_page
