// The property page in this process over the scripted test filter: which
// filters it takes, where its rows go, what deactivation leaves, what stays
// usable when the camera fails, the page called out of the usual order, the
// libraries it loads and the system's property frame over it.

#include "tests/page_fixture.h"

#include "page_host/filter_with_pages.h"
#include "propertypage/class_factory.h"
#include "propertypage/page_module.h"
#include "propertypage/page_templates.h"

#include <commctrl.h>
#include <olectl.h>

namespace page_tests {
namespace {

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

// A camera description that marks a feature of its own for the Gain item,
// under the colour category.
const char gain_description[] =
    "<RegisterDescription ModelName=\"M\" VendorName=\"V\">"
    "<Category Name=\"Root\"><pFeature>ColorCat</pFeature></Category>"
    "<Category Name=\"ColorCat\"><DisplayName>Color</DisplayName><pFeature>GainItem</pFeature></Category>"
    "<Category Name=\"GainItem\"><Extension><VCDItemGUID>{284C0E0F-010B-45BF-8291-09D90A459B28}</VCDItemGUID>"
    "</Extension><DisplayName>Sensor gain</DisplayName><pFeature>GainRaw</pFeature></Category>"
    "<Integer Name=\"GainRaw\"><Extension><VCDElementGUID>{B57D3000-0AC6-4819-A609-272A33140ACA}</VCDElementGUID>"
    "</Extension><DisplayName>Raw gain</DisplayName><Value>4</Value><Min>0</Min><Max>100</Max></Integer>"
    "</RegisterDescription>";

// The camera's Gain feature as the service answers it by name.
void serve_gain(scripted_camera& camera, std::int64_t value)
{
    camera.genicam.set_named_int("GainRaw/IsImplemented", 1);
    camera.genicam.set_named_int("GainRaw/IsLocked", 0);
    camera.genicam.set_named_int("GainRaw/Min", 0);
    camera.genicam.set_named_int("GainRaw/Max", 100);
    camera.genicam.set_named_int("GainRaw/Value", value);
}

// The slider on the row of the label `text`.
HWND slider_beside(HWND page_window, const std::wstring& text)
{
    const auto children = children_of(page_window);
    for (const child& label : children) {
        if (label.text != text) {
            continue;
        }
        for (const child& c : children) {
            if (c.class_name == L"VCDPropUI.msctls_trackbar32" && c.rect.top == label.rect.top) {
                return c.window;
            }
        }
    }
    return nullptr;
}

TEST_F(property_page, camera_items_join_the_pages_of_their_category_without_hiding_built_in_ones)
{
    camera.genicam.add_document(gain_description);
    serve_gain(camera, 4);

    // The camera's Gain outranks the built-in one but belongs to the colour
    // page: the exposure page keeps the built-in Gain.
    activate(exposure_page);
    EXPECT_NE(find(L"Static", L"Gain").window, nullptr);
    for (const child& c : children_of(page_window)) {
        EXPECT_NE(c.text, L"Sensor gain");
    }
    page->Deactivate();
    page.reset();

    activate(color_page);
    const HWND slider = slider_beside(page_window, L"Sensor gain");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 4);
    SendMessageW(slider, TBM_SETPOS, TRUE, 40);
    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 40), reinterpret_cast<LPARAM>(slider));
    const auto writes = camera.genicam.named_writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].request, "GainRaw/Value");
    std::int64_t written = 0;
    ASSERT_EQ(writes[0].data.size(), sizeof(written));
    std::memcpy(&written, writes[0].data.data(), sizeof(written));
    EXPECT_EQ(written, 40);
}

// A camera item on the colour page whose one element is an enumeration.
const char mode_description[] =
    "<RegisterDescription ModelName=\"M\" VendorName=\"V\">"
    "<Category Name=\"Root\"><pFeature>ColorCat</pFeature></Category>"
    "<Category Name=\"ColorCat\"><DisplayName>Color</DisplayName><pFeature>ModeItem</pFeature></Category>"
    "<Category Name=\"ModeItem\"><Extension><VCDItemGUID>{0B1E5A57-0000-4000-8000-0000000000A1}</VCDItemGUID>"
    "</Extension><DisplayName>Tone</DisplayName><pFeature>ToneMode</pFeature></Category>"
    "<Enumeration Name=\"ToneMode\"><Extension><VCDElementGUID>{B57D3000-0AC6-4819-A609-272A33140ACA}"
    "</VCDElementGUID></Extension><EnumEntry Name=\"Soft\"><Value>0</Value></EnumEntry>"
    "<EnumEntry Name=\"Hard\"><Value>1</Value></EnumEntry><EnumEntry Name=\"Vivid\"><Value>2</Value></EnumEntry>"
    "<Value>0</Value></Enumeration>"
    "</RegisterDescription>";

TEST_F(property_page, a_refresh_looks_up_the_usable_entries_of_an_enumeration_again)
{
    camera.genicam.add_document(mode_description);
    camera.genicam.set_named_int("ToneMode/IsImplemented", 1);
    camera.genicam.set_named_int("ToneMode/IsLocked", 0);
    camera.genicam.set_named_int("ToneMode/Soft/IsImplemented", 1);
    camera.genicam.set_named_int("ToneMode/Hard/IsImplemented", 0);
    camera.genicam.set_named_int("ToneMode/Vivid/IsImplemented", 1);
    camera.genicam.set_named_text("ToneMode/SelectedEntry", "Vivid");
    activate(color_page);
    const HWND combo = find(L"COMBOBOX").window;
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);

    // Another feature's change made "Hard" usable: the list follows, and the
    // selection still names the camera's entry.
    camera.genicam.set_named_int("ToneMode/Hard/IsImplemented", 1);
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    SendMessageW(page_window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    const auto writes = camera.genicam.named_writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(std::string(writes[0].data.begin(), writes[0].data.end()), "Hard");
}

TEST_F(property_page, a_camera_description_that_does_not_parse_refuses_the_filter_and_nothing_of_it_is_kept)
{
    camera.genicam.add_document("<RegisterDescription");
    auto filter = camera.make_filter();
    const LONG before = filter->references();
    EXPECT_EQ(give(filter.get()), E_FAIL) << "\"Failed to parse GenICam data\"";
    EXPECT_EQ(filter->references(), before) << "the page keeps no adapter and no interface of a refused filter";
}

// A description whose one item would join the colour page, were it read.
const char lost_description[] =
    "<RegisterDescription ModelName=\"M\" VendorName=\"V\">"
    "<Category Name=\"Root\"><pFeature>ColorCat</pFeature></Category>"
    "<Category Name=\"ColorCat\"><DisplayName>Color</DisplayName><pFeature>LostItem</pFeature></Category>"
    "<Category Name=\"LostItem\"><Extension><VCDItemGUID>{0B1E5A57-0000-4000-8000-0000000000AA}</VCDItemGUID>"
    "</Extension><DisplayName>Lost item</DisplayName><pFeature>GainRaw</pFeature></Category>"
    "<Integer Name=\"GainRaw\"><Extension><VCDElementGUID>{B57D3000-0AC6-4819-A609-272A33140ACA}</VCDElementGUID>"
    "</Extension><DisplayName>Raw gain</DisplayName><Value>4</Value><Min>0</Min><Max>100</Max></Integer>"
    "</RegisterDescription>";

TEST_F(property_page, a_short_document_and_one_claiming_4_gib_leave_out_only_their_own_items)
{
    camera.genicam.add_document(lost_description);
    camera.genicam.add_document(lost_description);
    camera.genicam.add_document(gain_description);
    camera.genicam.deliver_bytes(0, 100);
    camera.genicam.report_size(1, 0xFFFFFFFFu);
    serve_gain(camera, 4);

    activate(color_page);
    EXPECT_NE(slider_beside(page_window, L"Sensor gain"), nullptr) << "the working document's item is shown";
    EXPECT_NE(find(L"Static", L"WhiteBalance").window, nullptr) << "and the built-in items";
    for (const child& c : children_of(page_window)) {
        EXPECT_NE(c.text, L"Lost item");
    }
}

TEST_F(property_page, a_second_filter_while_active_replaces_every_control_of_the_first)
{
    camera.genicam.add_document(gain_description);
    serve_gain(camera, 4);
    scripted_camera second;
    second.genicam.add_document(gain_description);
    serve_gain(second, 9);

    auto first_filter = camera.make_filter();
    const LONG first_before = first_filter->references();
    EXPECT_EQ(give(first_filter.get(), color_page), S_OK);
    const RECT rect{0, 0, 760, 660};
    ASSERT_EQ(page->Activate(parent, &rect, FALSE), S_OK);
    page_window = GetWindow(parent, GW_CHILD);
    pump();
    const std::size_t shown = children_of(page_window).size();
    ASSERT_EQ(SendMessageW(slider_beside(page_window, L"Sensor gain"), TBM_GETPOS, 0, 0), 4);

    auto second_filter = second.make_filter();
    IUnknown* object = second_filter.get();
    EXPECT_EQ(page->SetObjects(1, &object), S_OK);
    // Every item of the first filter, and the adapter whose documents their
    // nodes live in, are gone with the references they held.
    EXPECT_EQ(first_filter->references(), first_before);
    const std::size_t first_requests = camera.genicam.named_requests().size();

    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_EQ(camera.genicam.named_requests().size(), first_requests) << "no control reads the first camera";
    EXPECT_EQ(GetWindow(parent, GW_CHILD), page_window);
    EXPECT_EQ(children_of(page_window).size(), shown) << "one set of controls";
    EXPECT_EQ(SendMessageW(slider_beside(page_window, L"Sensor gain"), TBM_GETPOS, 0, 0), 9);

    // A filter refused while active changes nothing: the second camera's
    // controls stay.
    scripted_camera broken;
    broken.genicam.add_document("<RegisterDescription");
    auto broken_filter = broken.make_filter();
    const LONG broken_before = broken_filter->references();
    object = broken_filter.get();
    EXPECT_EQ(page->SetObjects(1, &object), E_FAIL);
    EXPECT_EQ(broken_filter->references(), broken_before);
    second.genicam.set_named_int("GainRaw/Value", 30);
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_EQ(SendMessageW(slider_beside(page_window, L"Sensor gain"), TBM_GETPOS, 0, 0), 30);
}

TEST_F(property_page, activate_twice_keeps_one_page_and_deactivate_leaves_the_frame_empty)
{
    activate(exposure_page);
    const std::size_t shown = children_of(page_window).size();
    const RECT moved{10, 10, 700, 600};
    EXPECT_EQ(page->Activate(parent, &moved, FALSE), S_OK);
    pump();
    EXPECT_EQ(GetWindow(parent, GW_CHILD), page_window);
    EXPECT_EQ(GetWindow(page_window, GW_HWNDNEXT), nullptr) << "no second page window";
    EXPECT_EQ(children_of(page_window).size(), shown);
    RECT place{};
    GetWindowRect(page_window, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, 10);
    EXPECT_EQ(place.top, 10);

    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
}

// A copy of a library under each rich-edit name in a folder searched before
// the system folder: the page still takes the system's own.
TEST(rich_edit_libraries, come_from_the_system_folder_whatever_the_search_path_holds)
{
    const wchar_t* names[] = {L"RICHED20.DLL", L"Msftedit.dll"};
    for (const wchar_t* name : names) {
        if (GetModuleHandleW(name) != nullptr) {
            GTEST_SKIP() << "this process loaded the rich-edit libraries already";
        }
    }
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder =
        std::wstring(temp) + L"camtovra_rich_edit_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    for (const wchar_t* name : names) {
        ASSERT_TRUE(CopyFileW(PAGE_DLL, (folder + L"\\" + name).c_str(), FALSE)) << GetLastError();
    }
    ASSERT_TRUE(SetDllDirectoryW(folder.c_str()));
    camtovra_propertypage::load_rich_edit_libraries();
    SetDllDirectoryW(nullptr);

    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const wchar_t* name : names) {
        const HMODULE loaded = GetModuleHandleW(name);
        ASSERT_NE(loaded, nullptr) << "not loaded";
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(loaded, path, MAX_PATH);
        EXPECT_EQ(_wcsnicmp(path, system, std::wcslen(system)), 0)
            << std::string(path, path + std::wcslen(path)) << " is not in the system folder";
    }
    WNDCLASSEXW rich_edit{sizeof(rich_edit)};
    EXPECT_TRUE(GetClassInfoExW(nullptr, L"RICHEDIT50W", &rich_edit));
    for (const wchar_t* name : names) {
        DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
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

TEST_F(property_page, strobe_reads_its_record_again_on_every_refresh_and_an_unplug_disables_it)
{
    activate(feature_page);
    const HWND enable = find(L"BUTTON", L"Enable", 1).window; // Trigger's comes first
    const HWND polarity = find(L"BUTTON", L"Polarity", 1).window;
    ASSERT_NE(enable, nullptr);
    EXPECT_TRUE(IsWindowEnabled(enable));
    EXPECT_TRUE(IsWindowEnabled(polarity));
    EXPECT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_CHECKED);

    // The camera switched its strobe off by itself.
    auto off = scripted_camera::strobe_on();
    off.enable = 0;
    camera.backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, off);
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(polarity)) << "a strobe that is off offers nothing else";

    camera.backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, scripted_camera::strobe_on());
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_TRUE(IsWindowEnabled(polarity));
    camera.unplug();
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_FALSE(IsWindowEnabled(enable)) << "no record, nothing to switch";
    EXPECT_FALSE(IsWindowEnabled(polarity));
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
} // namespace page_tests
