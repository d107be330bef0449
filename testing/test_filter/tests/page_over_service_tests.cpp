// The exposure page over the demonstration service, across processes: it
// accepts the camera's filter, lays out the camera's rows with its values, and
// a click on a switch, a slider's move and a typed time reach the camera (read
// back through a second device handle).
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "propertypage/abs_val_exposure_slider_controller.h"
#include "propertypage/class_factory.h"
#include "propertypage/item_slider_access.h"
#include "propertypage/ks_property_access.h"
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

std::vector<HWND> edit_windows(HWND page_window)
{
    std::vector<HWND> edits;
    for (const child& c : children_of(page_window)) {
        if (ends_with(c.class_name, L"RICHEDIT50W")) {
            edits.push_back(c.window);
        }
    }
    return edits;
}

std::vector<std::wstring> edit_texts(HWND page_window)
{
    std::vector<std::wstring> texts;
    for (const HWND edit : edit_windows(page_window)) {
        texts.push_back(page_tests::window_text(edit));
    }
    return texts;
}

// The camera's gain as the service answers it on `filter` (hundredths of a dB).
double gain_value(IKsPropertySet* filter)
{
    std::int32_t value = 0;
    EXPECT_EQ(ks_get_int(filter, vendor::gain_hundredths, value), S_OK);
    return value;
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

TEST_F(page_over_service, the_exposure_page_shows_the_camera_and_a_click_a_slider_and_a_typed_time_reach_it)
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
    // The simulated camera has ExposureAuto but neither the auto reference
    // nor the upper limit: no row for them, so no empty edit box or dead
    // switch.
    std::vector<std::wstring> label_texts;
    for (const child& c : labels) {
        label_texts.push_back(c.text);
    }
    EXPECT_EQ(label_texts, (std::vector<std::wstring>{L"Gain", L"Exposure"}));

    // The edit boxes show the camera's values: the texts a controller over the
    // other device handle makes of what the service answers there.
    const std::vector<std::wstring> edits = edit_texts(page_window);
    ASSERT_EQ(edits.size(), 2u);
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

    // The Gain slider moved to its other end, and an exposure time typed into
    // the Exposure row's edit box with Enter: both reach the camera, and the
    // edit boxes show what the other handle reads after the refresh.
    ASSERT_FALSE(was_auto) << "the simulated camera starts with manual gain";
    {
        HWND slider = nullptr;
        for (const child& c : children_of(page_window)) {
            if (slider == nullptr && ends_with(c.class_name, L"trackbar32")) {
                slider = c.window;
            }
        }
        ASSERT_NE(slider, nullptr);
        const LRESULT low = SendMessageW(slider, TBM_GETRANGEMIN, 0, 0);
        const LRESULT high = SendMessageW(slider, TBM_GETRANGEMAX, 0, 0);
        const LRESULT target = SendMessageW(slider, TBM_GETPOS, 0, 0) == high ? low : high;
        const double gain_before = gain_value(ks(second));
        SendMessageW(slider, TBM_SETPOS, TRUE, target);
        SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, target), reinterpret_cast<LPARAM>(slider));
        pump();
        EXPECT_NE(gain_value(ks(second)), gain_before) << "the slider's move reached the camera";
        EXPECT_EQ(edit_texts(page_window)[0],
                  shown_text<VCDPropUI::CAbsValSliderController>(create(builtin(L"Gain"), ks(second))));
    }
    const HWND exposure_edit = edit_windows(page_window).at(1);
    SetFocus(exposure_edit);
    SendMessageW(exposure_edit, EM_SETSEL, 0, -1);
    for (const wchar_t c : std::wstring(L"1/250")) {
        SendMessageW(exposure_edit, WM_CHAR, c, 0);
    }
    SendMessageW(exposure_edit, WM_CHAR, 13, 0);
    pump();
    vendor_float_record seconds{};
    ASSERT_EQ(ks_get_float(ks(second), vendor::exposure_seconds, seconds), S_OK);
    EXPECT_NEAR(seconds.value, 0.004, 1e-6) << "the typed time reached the camera";
    EXPECT_EQ(edit_texts(page_window)[1], L"1/250 sec");

    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << "every window of the page is gone";
}

} // namespace
