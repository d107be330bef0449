#pragma once
// A property page in this process over the scripted test filter, active in a
// top-level window of the test, and what its tests look at.

#include "propertypage/class_factory.h"
#include "propertypage/ks_property_access.h"
#include "propertypage/page_templates.h"
#include "propertypage/vcd_slider_controls.h"

#include "page_host/scripted_camera.h"
#include "page_windows.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace page_tests {

using namespace VCDAdapterHelper;
using page_host::scripted_camera;

enum page_index { exposure_page = 0, feature_page = 1, lens_page = 2, color_page = 3 };

inline int parse_errors = 0;
inline void count_parse_error(HWND)
{
    ++parse_errors;
}

class property_page : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        WNDCLASSW host{};
        host.lpfnWndProc = &DefWindowProcW;
        host.hInstance = GetModuleHandleW(nullptr);
        host.lpszClassName = L"property_page_tests_host";
        RegisterClassW(&host);
        parent = CreateWindowW(L"property_page_tests_host", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 700, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        ShowWindow(parent, SW_SHOW);
        SetForegroundWindow(parent);
        VCDPropUI::CVCDEdit::set_parse_error_reporter(&count_parse_error);
        parse_errors = 0;
    }
    void TearDown() override
    {
        if (page) {
            page->Deactivate();
            page.reset();
        }
        DestroyWindow(parent);
        pump();
        VCDPropUI::CVCDEdit::set_parse_error_reporter(nullptr);
        OleUninitialize();
    }

    atl::com_ptr<IPropertyPage> make_page(page_index index)
    {
        atl::com_ptr<IClassFactory> factory(
            new camtovra_propertypage::CClassFactory(camtovra_propertypage::page_templates()[index]));
        factory->AddRef();
        atl::com_ptr<IPropertyPage> made;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, made.put_void()), S_OK);
        return made;
    }

    HRESULT give(IUnknown* object, page_index index = exposure_page)
    {
        page = make_page(index);
        return page->SetObjects(1, &object);
    }

    // The page of `index` over the camera (or over `filter`, a filter in
    // front of it), active in the host window.
    HWND activate(page_index index, IUnknown* filter = nullptr)
    {
        const auto own = camera.make_filter();
        EXPECT_EQ(give(filter != nullptr ? filter : own.get(), index), S_OK);
        const RECT rect{0, 0, 760, 660};
        EXPECT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
        page_window = GetWindow(parent, GW_CHILD);
        EXPECT_NE(page_window, nullptr);
        pump();
        return page_window;
    }

    child find(const std::wstring& class_suffix, const std::wstring& text = L"", int nth = 0)
    {
        const child none{nullptr, {}, {}, {}};
        children = children_of(page_window);
        for (const child& c : children) {
            const bool class_matches = c.class_name.size() >= class_suffix.size() &&
                                       c.class_name.compare(c.class_name.size() - class_suffix.size(),
                                                            class_suffix.size(), class_suffix) == 0;
            if (class_matches && (text.empty() || c.text == text) && nth-- == 0) {
                return c;
            }
        }
        ADD_FAILURE() << "no control of class " << std::string(class_suffix.begin(), class_suffix.end());
        return none;
    }

    static bool at_96_dpi()
    {
        HDC screen = GetDC(nullptr);
        const bool plain = GetDeviceCaps(screen, LOGPIXELSX) == 96 && GetDeviceCaps(screen, LOGPIXELSY) == 96;
        ReleaseDC(nullptr, screen);
        return plain;
    }

    void type(HWND edit, const wchar_t* text)
    {
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        for (const wchar_t* c = text; *c != 0; ++c) {
            SendMessageW(edit, WM_CHAR, *c, 0);
        }
    }

    std::vector<test_filter::property_call> sets_of(DWORD id) const
    {
        return camera.backend->sets_of(PROPSETID_FWCAM1394_CUSTOM_PROP, id);
    }

    scripted_camera camera;
    HWND parent = nullptr;
    HWND page_window = nullptr;
    atl::com_ptr<IPropertyPage> page;
    std::vector<child> children;
};

} // namespace page_tests
