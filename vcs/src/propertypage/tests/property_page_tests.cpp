// The property page in this process over the scripted test filter: which
// filters it takes, where its rows go, how its controls reach the camera and
// refresh each other, and what stays usable when the camera fails.

#include "propertypage/class_factory.h"
#include "propertypage/ks_property_access.h"
#include "propertypage/page_templates.h"
#include "propertypage/vcd_item_controls.h"
#include "propertypage/vcd_slider_controls.h"

#include "page_host/filter_with_pages.h"
#include "page_host/scripted_camera.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <commctrl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace VCDAdapterHelper;
using page_host::scripted_camera;

enum page_index { exposure_page = 0, feature_page = 1 };

struct child {
    HWND window;
    std::wstring class_name;
    std::wstring text;
    RECT rect; // in the page's client coordinates
};

std::vector<child> children_of(HWND page)
{
    std::vector<child> found;
    for (HWND window = GetWindow(page, GW_CHILD); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        child c{window, {}, {}, {}};
        wchar_t text[256] = {};
        GetClassNameW(window, text, 256);
        c.class_name = text;
        GetWindowTextW(window, text, 256);
        c.text = text;
        GetWindowRect(window, &c.rect);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&c.rect), 2);
        found.push_back(c);
    }
    return found;
}

// Runs what the window messages posted so far set off (the controls'
// refresh_controls among them).
void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::wstring window_text(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

int parse_errors = 0;
void count_parse_error(HWND)
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

    // The page of `index` over the camera, active in the host window.
    HWND activate(page_index index)
    {
        auto filter = camera.make_filter();
        EXPECT_EQ(give(filter.get(), index), S_OK);
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

TEST_F(property_page, takes_only_a_camera_filter_of_ours_with_genicam_access)
{
    auto no_property_set = camera.make_filter({false, true, true});
    EXPECT_EQ(give(no_property_set.get()), E_NOINTERFACE);

    scripted_camera other_device(8);
    EXPECT_EQ(give(other_device.make_filter().get()), E_NOINTERFACE);

    scripted_camera no_genicam;
    no_genicam.backend->set_property(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 4,
                                     test_filter::scripted_property::supporting(0));
    EXPECT_EQ(give(no_genicam.make_filter().get()), E_FAIL);

    auto good = camera.make_filter();
    const LONG before = good->references();
    IUnknown* objects[] = {nullptr, no_property_set.get(), good.get()};
    page = make_page(exposure_page);
    EXPECT_EQ(page->SetObjects(3, objects), S_OK);
    EXPECT_GT(good->references(), before) << "the page holds the filter";
    page.reset();
    EXPECT_EQ(good->references(), before) << "and lets it go with the page";
}

TEST_F(property_page, exposure_page_rows_follow_item_guids_thirty_pixels_apart)
{
    if (!at_96_dpi()) {
        GTEST_SKIP() << "lengths below are those of 96 dots per inch";
    }
    activate(exposure_page);
    const child& gain = find(L"Static", L"Gain");
    EXPECT_EQ(gain.rect.left, 20);
    EXPECT_EQ(gain.rect.top, 18);
    EXPECT_EQ(gain.rect.bottom - gain.rect.top, 23);
    EXPECT_GE(gain.rect.right - gain.rect.left, 110);
    const child& exposure = find(L"Static", L"Exposure");
    EXPECT_EQ(exposure.rect.left, 20);
    EXPECT_EQ(exposure.rect.top, 48) << "Gain's GUID sorts before Exposure's";

    // Each label row carries the value controls and the Auto switch, right of
    // the label.
    const child& gain_slider = find(L"msctls_trackbar32", L"", 0);
    EXPECT_EQ(gain_slider.rect.top, 18);
    EXPECT_EQ(gain_slider.rect.left, gain.rect.right + 5);
    const child& exposure_slider = find(L"msctls_trackbar32", L"", 1);
    EXPECT_EQ(exposure_slider.rect.top, 48);
    const child& exposure_auto = find(L"BUTTON", L"Auto", 1);
    EXPECT_EQ(exposure_auto.rect.top, 48);
}

TEST_F(property_page, hidden_elements_add_nothing_and_attached_buttons_share_the_label_row)
{
    if (!at_96_dpi()) {
        GTEST_SKIP() << "lengths below are those of 96 dots per inch";
    }
    activate(feature_page);
    for (const child& c : children_of(page_window)) {
        EXPECT_NE(c.text, L"Binning factor") << "its one element is hidden";
    }
    // Partial scan: its label row, then Auto-center, X Offset, Y Offset on
    // rows of their own; Trigger follows.
    EXPECT_EQ(find(L"Static", L"Partial scan").rect.top, 18);
    EXPECT_EQ(find(L"BUTTON", L"Auto-center").rect.top, 48);
    EXPECT_EQ(find(L"Static", L"X Offset").rect.left, 40);
    EXPECT_EQ(find(L"Static", L"Y Offset").rect.top, 108);
    const child& trigger = find(L"Static", L"Trigger");
    EXPECT_EQ(trigger.rect.top, 138);
    const child& enable = find(L"BUTTON", L"Enable");
    const child& software = find(L"BUTTON", L"Software Trigger");
    EXPECT_EQ(enable.rect.top, 138);
    EXPECT_EQ(software.rect.top, 138);
    EXPECT_GE(software.rect.left, enable.rect.right);
    EXPECT_EQ(find(L"BUTTON", L"Polarity").rect.top, 168);
}

TEST_F(property_page, a_click_on_a_switch_reaches_the_item_and_refreshes_the_other_controls)
{
    activate(feature_page);
    const HWND enable = find(L"BUTTON", L"Enable").window;
    const HWND software = find(L"BUTTON", L"Software Trigger").window;
    EXPECT_FALSE(IsWindowEnabled(software)) << "the trigger is off";
    EXPECT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    SendMessageW(enable, BM_CLICK, 0, 0);
    const auto sets = sets_of(vendor::trigger);
    ASSERT_EQ(sets.size(), 1u);
    const auto written = test_filter::record_of<vendor_int_record>(sets[0].data);
    EXPECT_EQ(written.flags & 0x4u, 0u) << "trigger on: bit 2 cleared";
    EXPECT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_CHECKED);

    pump();
    EXPECT_TRUE(IsWindowEnabled(software)) << "refresh_controls re-read the software trigger's availability";
    SendMessageW(software, BM_CLICK, 0, 0);
    EXPECT_EQ(sets_of(vendor::trigger_software).size(), 1u);
}

TEST_F(property_page, a_slider_move_writes_the_value_and_keeps_edit_and_spin_in_step)
{
    activate(exposure_page);
    const HWND slider = find(L"msctls_trackbar32", L"", 0).window; // Gain, 0 to 24 dB
    const HWND edit = find(L"RICHEDIT50W", L"", 0).window;
    const HWND spin = find(L"msctls_updown32", L"", 0).window;
    EXPECT_EQ(window_text(edit), L"6.000 dB");

    SendMessageW(slider, TBM_SETPOS, TRUE, 100);
    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 100), reinterpret_cast<LPARAM>(slider));
    const auto sets = sets_of(vendor::gain_hundredths);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(test_filter::record_of<vendor_int_record>(sets[0].data).value, 2400);

    pump();
    EXPECT_EQ(window_text(edit), L"24.000 dB");
    EXPECT_EQ(SendMessageW(spin, UDM_GETPOS32, 0, 0), 100);

    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(sets_of(vendor::gain_hundredths).size(), 1u) << "the end of a drag writes nothing more";
}

TEST_F(property_page, a_typed_value_is_written_when_enter_moves_the_focus)
{
    activate(exposure_page);
    const HWND exposure_edit = find(L"RICHEDIT50W", L"", 1).window;
    EXPECT_EQ(window_text(exposure_edit), L"1/250 sec");

    type(exposure_edit, L"1/x500");
    EXPECT_EQ(window_text(exposure_edit), L"1/500") << "letters are swallowed";
    SendMessageW(exposure_edit, WM_CHAR, 13, 0);
    pump();
    EXPECT_NE(GetFocus(), exposure_edit) << "Enter moves to the next control";
    const auto sets = sets_of(vendor::exposure_seconds);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_FLOAT_EQ(test_filter::record_of<vendor_float_record>(sets[0].data).value, 0.002f);
    EXPECT_EQ(parse_errors, 0);

    type(exposure_edit, L"1/0");
    SetFocus(parent);
    pump();
    EXPECT_EQ(parse_errors, 1) << "\"Error parsing value!\"";
    EXPECT_EQ(sets_of(vendor::exposure_seconds).size(), 1u);
}

// An item whose switch the test controls.
class switch_item final : public CVCDItemDataBase {
public:
    bool read_only = true;
    bool fails = false;
    bool on = false;
    int writes = 0;

    bool is_interface_supported(interface_id) override { return true; }
    HRESULT is_read_only(interface_id, bool& value) override
    {
        value = read_only;
        return fails ? E_FAIL : S_OK;
    }
    HRESULT is_available(interface_id, bool& value) override
    {
        value = true;
        return fails ? static_cast<HRESULT>(0x80070651L) : S_OK;
    }
    HRESULT get_switch(interface_id, bool& value) override
    {
        if (fails) {
            return static_cast<HRESULT>(0x80070651L);
        }
        value = on;
        return S_OK;
    }
    HRESULT set_switch(interface_id, bool value) override
    {
        ++writes;
        on = value;
        return S_OK;
    }
};

TEST_F(property_page, a_read_only_switch_ignores_clicks_and_an_unreadable_one_stays_off)
{
    activate(exposure_page);
    auto* item = new switch_item;
    item->on = true;
    item_data_ptr held(item);
    VCDPropUI::CVCDSwitch read_only(held, 0, L"Read only");
    ASSERT_TRUE(read_only.create(page_window, RECT{400, 400, 500, 423}));
    read_only.init();
    EXPECT_EQ(SendMessageW(read_only.window(), BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageW(read_only.window(), BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(read_only.window(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(item->writes, 0);

    item->read_only = false;
    SendMessageW(read_only.window(), BM_CLICK, 0, 0);
    EXPECT_EQ(item->writes, 1);
    EXPECT_FALSE(item->on);

    item->fails = true;
    read_only.update_state();
    EXPECT_FALSE(IsWindowEnabled(read_only.window()));
    EXPECT_EQ(SendMessageW(read_only.window(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(property_page, deactivate_destroys_every_window_and_activate_builds_anew)
{
    activate(exposure_page);
    const std::size_t shown = children_of(page_window).size();
    EXPECT_GE(shown, 10u);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(page_window));
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);

    const RECT rect{0, 0, 760, 660};
    EXPECT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
    page_window = GetWindow(parent, GW_CHILD);
    ASSERT_NE(page_window, nullptr);
    EXPECT_EQ(children_of(page_window).size(), shown);
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_EQ(page->Move(&rect), S_OK);
    EXPECT_EQ(page->Move(nullptr), E_POINTER);
    EXPECT_EQ(GetWindowLongW(page_window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0);
    SetWindowLongW(page_window, GWL_EXSTYLE, 0);
    EXPECT_NE(GetWindowLongW(page_window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0)
        << "keyboard navigation always enters the page";
}

TEST_F(property_page, an_unplugged_camera_disables_the_controls_and_the_page_still_closes)
{
    activate(exposure_page);
    camera.unplug();
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    // Value controls cannot read their availability and stay disabled; the
    // Auto switches are always available and show off, as their state cannot
    // be read.
    for (const child& c : children_of(page_window)) {
        if (c.class_name.rfind(L"VCDPropUI.", 0) == 0 && c.class_name != L"VCDPropUI.BUTTON") {
            EXPECT_FALSE(IsWindowEnabled(c.window)) << std::string(c.class_name.begin(), c.class_name.end());
        }
    }
    const HWND automatic = find(L"BUTTON", L"Auto", 0).window;
    EXPECT_EQ(SendMessageW(automatic, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(automatic, BM_CLICK, 0, 0);
    const HWND edit = find(L"RICHEDIT50W", L"", 0).window;
    EXPECT_EQ(window_text(edit), L"");
    const HWND slider = find(L"msctls_trackbar32", L"", 0).window;
    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 5), reinterpret_cast<LPARAM>(slider));
    pump();
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_EQ(parse_errors, 0);
}

// The system's property frame over the filter, with all four pages: closed
// by a timer once it shows its tabs.
std::vector<std::wstring> frame_tabs;
int frame_checks = 0;

BOOL CALLBACK read_tabs(HWND window, LPARAM)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, WC_TABCONTROLW) == 0) {
        const auto count = SendMessageW(window, TCM_GETITEMCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[128] = {};
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = 128;
            SendMessageW(window, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            frame_tabs.emplace_back(text);
        }
    }
    return TRUE;
}

BOOL CALLBACK close_frame(HWND window, LPARAM)
{
    if (GetParent(window) == nullptr && IsWindowVisible(window) && GetWindow(window, GW_CHILD) != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wcscmp(name, L"#32770") == 0) {
            EnumChildWindows(window, &read_tabs, 0);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    }
    return TRUE;
}

void CALLBACK check_frame(HWND, UINT, UINT_PTR timer, DWORD)
{
    // Bounded: after 100 looks (10 s) the frame is closed whatever it shows.
    if (++frame_checks >= 100 || frame_tabs.empty()) {
        EnumThreadWindows(GetCurrentThreadId(), &close_frame, 0);
    }
    if (!frame_tabs.empty()) {
        KillTimer(nullptr, timer);
    }
}

TEST_F(property_page, the_property_frame_shows_four_tabs_titled_from_the_string_table)
{
    std::vector<DWORD> cookies;
    std::vector<CLSID> classes;
    for (const auto& page_class : camtovra_propertypage::page_templates()) {
        atl::com_ptr<IClassFactory> factory(new camtovra_propertypage::CClassFactory(page_class));
        factory->AddRef();
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(page_class.page_clsid, factory.get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        cookies.push_back(cookie);
        classes.push_back(page_class.page_clsid);
    }
    auto inner = camera.make_filter();
    inner->AddRef();
    auto filter = page_host::filter_with_pages::create(atl::com_ptr<IUnknown>(inner.get()), classes);
    IUnknown* object = filter.get();
    frame_tabs.clear();
    frame_checks = 0;
    SetTimer(nullptr, 0, 100, &check_frame);
    EXPECT_EQ(OleCreatePropertyFrame(parent, 0, 0, L"CamTovra", 1, &object, static_cast<ULONG>(classes.size()),
                                     classes.data(), 0, 0, nullptr),
              S_OK);
    EXPECT_EQ(frame_tabs, (std::vector<std::wstring>{L"CamTovra Exposure Controls", L"CamTovra Feature Controls",
                                                     L"CamTovra Lens Controls", L"CamTovra Color Controls"}));
    for (const DWORD cookie : cookies) {
        CoRevokeClassObject(cookie);
    }
}

} // namespace
