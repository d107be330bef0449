// The exposure page over the demonstration service, across processes: it
// accepts the camera's filter, lays out the camera's rows, and a click on a
// switch reaches the camera (read back through a second device handle).
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "propertypage/abs_val_exposure_slider_controller.h"
#include "propertypage/class_factory.h"
#include "propertypage/item_slider_access.h"
#include "propertypage/page_templates.h"
#include "page_windows.h"
#include "service_filter_fixture.h"

namespace {

using namespace VCDAdapterHelper;
using page_tests::child;
using page_tests::children_of;
using page_tests::pump;
using service_filter_test::narrow;

constexpr LONG flag_auto = 1;

bool ends_with(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The text a controller of `Controller`'s kind shows for the item's absolute
// value (interface 1 of the gain and exposure items).
template <class Controller>
std::wstring shown_text(const item_data_ptr& item)
{
    Controller controller(VCDPropUI::make_slider_access(item, 1));
    std::wstring text;
    EXPECT_TRUE(controller.get_text(text));
    return text;
}

class page_over_service : public service_filter_test::service_filter_fixture {
protected:
    HWND parent = nullptr;
    atl::com_ptr<IPropertyPage> page;

    void SetUp() override
    {
        ole_thread = true;
        ASSERT_NO_FATAL_FAILURE(service_filter_fixture::SetUp());
        WNDCLASSW host{};
        host.lpfnWndProc = &DefWindowProcW;
        host.hInstance = GetModuleHandleW(nullptr);
        host.lpszClassName = L"page_over_service_host";
        RegisterClassW(&host);
        parent = CreateWindowW(host.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 700, nullptr, nullptr,
                               host.hInstance, nullptr);
        ASSERT_NE(parent, nullptr);
    }
    void TearDown() override
    {
        if (page) {
            page->Deactivate();
            page.reset();
        }
        if (parent != nullptr) {
            DestroyWindow(parent);
        }
        pump();
        service_filter_fixture::TearDown();
    }

    atl::com_ptr<IPropertyPage> make_page(std::size_t index)
    {
        atl::com_ptr<IClassFactory> factory(
            new camtovra_propertypage::CClassFactory(camtovra_propertypage::page_templates()[index]));
        factory->AddRef();
        atl::com_ptr<IPropertyPage> made;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, made.put_void()), S_OK);
        return made;
    }
};

TEST_F(page_over_service, the_exposure_page_takes_the_cameras_filter_and_a_click_reaches_the_camera)
{
    page = make_page(0);
    ASSERT_TRUE(page);
    IUnknown* object = filter->as_property_set();
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
    const RECT rect{0, 0, 760, 660};
    ASSERT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
    const HWND page_window = GetWindow(parent, GW_CHILD);
    ASSERT_NE(page_window, nullptr);
    pump();

    // Rows in item GUID order: Gain before Exposure, 30 px apart from y 18.
    std::vector<child> labels;
    HWND gain_auto = nullptr;
    for (const child& c : children_of(page_window)) {
        if (ends_with(c.class_name, L"Static") || ends_with(c.class_name, L"STATIC")) {
            labels.push_back(c);
        }
        if (gain_auto == nullptr && ends_with(c.class_name, L"BUTTON") && c.text == L"Auto") {
            gain_auto = c.window; // the first row's switch
        }
    }
    ASSERT_GE(labels.size(), 2u);
    EXPECT_EQ(labels[0].text, L"Gain");
    EXPECT_EQ(labels[0].rect.left, 20);
    EXPECT_EQ(labels[0].rect.top, 18);
    bool exposure_row = false;
    for (const child& c : labels) {
        exposure_row = exposure_row || (c.text == L"Exposure" && (c.rect.top - 18) % 30 == 0 && c.rect.top > 18);
    }
    EXPECT_TRUE(exposure_row) << "an Exposure row below Gain's";

    // The edit boxes show the camera's values: the texts a controller over the
    // other device handle makes of what the service answers there.
    std::vector<std::wstring> edits;
    for (const child& c : children_of(page_window)) {
        if (ends_with(c.class_name, L"RICHEDIT50W")) {
            edits.push_back(c.text);
        }
    }
    ASSERT_GE(edits.size(), 2u);
    EXPECT_EQ(edits[0], shown_text<VCDPropUI::CAbsValSliderController>(create(builtin(L"Gain"), ks(second))));
    EXPECT_EQ(edits[1],
              shown_text<VCDPropUI::CAbsValExposureSliderController>(create(builtin(L"Exposure"), ks(second))));

    // The Gain row's automatic switch, clicked twice: each click reaches the
    // camera, as the other device handle reads it.
    ASSERT_NE(gain_auto, nullptr);
    atl::com_ptr<IAMVideoProcAmp> proc_amp;
    ASSERT_EQ(second->QueryInterface(IID_IAMVideoProcAmp, proc_amp.put_void()), S_OK);
    LONG value = 0, flags = 0;
    ASSERT_EQ(proc_amp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    const bool was_auto = (flags & flag_auto) != 0;
    EXPECT_EQ(SendMessageW(gain_auto, BM_GETCHECK, 0, 0), was_auto ? BST_CHECKED : BST_UNCHECKED);
    for (const bool want_auto : {!was_auto, was_auto}) {
        SendMessageW(gain_auto, BM_CLICK, 0, 0);
        pump();
        ASSERT_EQ(proc_amp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
        EXPECT_EQ((flags & flag_auto) != 0, want_auto);
        EXPECT_EQ(SendMessageW(gain_auto, BM_GETCHECK, 0, 0), want_auto ? BST_CHECKED : BST_UNCHECKED);
    }

    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << "every window of the page is gone";
}

} // namespace
