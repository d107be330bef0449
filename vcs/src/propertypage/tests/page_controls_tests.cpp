// The page's controls: how a click, a slider move and a typed value reach the
// camera (in any process locale), what a refused value leaves in its box, how
// the other controls refresh, and controls over items whose switch is
// read-only or whose range is wide or has no step.

#include "tests/page_fixture.h"

#include "propertypage/item_slider_access.h"
#include "propertypage/range_slider_controller.h"
#include "propertypage/vcd_item_controls.h"
#include "propertypage/vcd_slider_controls.h"

#include "test_filter/bench/counting_backend.h"

#include <commctrl.h>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace page_tests {
namespace {

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
    SendMessageW(exposure_edit, WM_CHAR, 8, 0);
    EXPECT_EQ(window_text(exposure_edit), L"1/500") << "and so is backspace";
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

    // A number far past what the camera's float record holds is a number,
    // but it is not sent: the box shows the camera's time again.
    type(exposure_edit, (L"1" + std::wstring(300, L'0')).c_str());
    SetFocus(parent);
    pump();
    EXPECT_EQ(parse_errors, 1);
    EXPECT_EQ(sets_of(vendor::exposure_seconds).size(), 1u);
    EXPECT_EQ(window_text(exposure_edit), L"1/500 sec");
}

TEST_F(property_page, a_value_the_camera_refuses_leaves_the_camera_value_in_the_box)
{
    vendor_int_record gain{};
    gain.value = 600;
    gain.maximum = 2400;
    gain.flags = flag_manual;
    camera.keep_in_range(vendor::gain_hundredths, gain);
    activate(exposure_page);
    const HWND gain_edit = find(L"RICHEDIT50W", L"", 0).window;
    EXPECT_EQ(window_text(gain_edit), L"6.000 dB");

    type(gain_edit, L"30");
    SetFocus(parent);
    pump();
    const auto sets = sets_of(vendor::gain_hundredths);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(test_filter::record_of<vendor_int_record>(sets[0].data).value, 3000);
    EXPECT_EQ(parse_errors, 0) << "the text parsed; the camera refused its value";
    EXPECT_EQ(window_text(gain_edit), L"6.000 dB");

    // The box holds the camera's value: passing through writes nothing.
    SetFocus(gain_edit);
    SetFocus(parent);
    pump();
    EXPECT_EQ(sets_of(vendor::gain_hundredths).size(), 1u);
    EXPECT_EQ(parse_errors, 0);

    type(gain_edit, L"24");
    SetFocus(parent);
    pump();
    EXPECT_EQ(sets_of(vendor::gain_hundredths).size(), 2u);
    EXPECT_EQ(window_text(gain_edit), L"24.000 dB") << "the camera's maximum is taken";
}

// The pages run inside an application that may have set its user's locale.
// With a decimal comma in force, a typed comma and a typed full stop both
// mark the decimals, and values still show with a full stop.
TEST_F(property_page, typed_and_shown_numbers_ignore_a_decimal_comma_locale)
{
    struct locale_restorer {
        std::string previous = std::setlocale(LC_ALL, nullptr);
        ~locale_restorer() { std::setlocale(LC_ALL, previous.c_str()); }
    } restorer;
    const char* german = nullptr;
    for (const char* name : {"German", "de-DE", "German_Germany.1252"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            german = name;
            break;
        }
    }
    ASSERT_NE(german, nullptr) << "the C runtime knows no German locale";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << german;
    char probe[16];
    std::snprintf(probe, sizeof(probe), "%.1f", 6.5);
    ASSERT_STREQ(probe, "6,5") << german << ": the C runtime formats with the locale in force";

    activate(exposure_page);
    const HWND gain_edit = find(L"RICHEDIT50W", L"", 0).window;
    const HWND exposure_edit = find(L"RICHEDIT50W", L"", 1).window;
    EXPECT_EQ(window_text(gain_edit), L"6.000 dB");
    const struct {
        const wchar_t* typed;
        std::int32_t hundredths;
        const wchar_t* shown;
    } gains[] = {{L"6,5", 650, L"6.500 dB"}, {L"7.25", 725, L"7.250 dB"}, {L"-0,75", -75, L"-0.750 dB"}};
    for (const auto& gain : gains) {
        type(gain_edit, gain.typed);
        SetFocus(parent);
        pump();
        const auto sets = sets_of(vendor::gain_hundredths);
        ASSERT_FALSE(sets.empty());
        EXPECT_EQ(test_filter::record_of<vendor_int_record>(sets.back().data).value, gain.hundredths) << gain.typed;
        EXPECT_EQ(window_text(gain_edit), gain.shown);
    }
    type(exposure_edit, L"0,5");
    SetFocus(parent);
    pump();
    const auto sets = sets_of(vendor::exposure_seconds);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(test_filter::record_of<vendor_float_record>(sets[0].data).value, 0.5f);
    EXPECT_EQ(window_text(exposure_edit), L"0.500 sec");
    EXPECT_EQ(parse_errors, 0);
}

// Exposure ranges whose bounds are no standard times, each beside one just
// outside: the slider's ends write the bounds, which the camera takes, and
// the slider stays where it was put.
TEST_F(property_page, the_exposure_sliders_ends_write_the_camera_bounds)
{
    vendor_float_record exposure{};
    exposure.value = 0.004f;
    exposure.minimum = 102e-6f; // beside 1/10000 s
    exposure.maximum = 33333e-6f; // a frame at 30 fps, beside 1/30 s
    exposure.default_value = 0.004f;
    exposure.flags = flag_manual;
    exposure.capabilities = 1;
    camera.keep_in_range(vendor::exposure_seconds, exposure);
    vendor_float_record auto_max = exposure;
    auto_max.value = 0.01f;
    auto_max.minimum = 260e-6f; // beside 1/4000 s
    auto_max.maximum = 0.99f;   // beside 1 s
    camera.keep_in_range(vendor::exposure_auto_max, auto_max);
    activate(exposure_page);

    const struct {
        DWORD id;
        int nth; // of the page's sliders and edit boxes; Gain's come first
        float bounds[2];
        const wchar_t* shown[2];
    } sliders[] = {
        {vendor::exposure_seconds, 1, {exposure.minimum, exposure.maximum}, {L"1/9804 sec", L"1/30 sec"}},
        {vendor::exposure_auto_max, 2, {auto_max.minimum, auto_max.maximum}, {L"1/3846 sec", L"0.990 sec"}},
    };
    for (const auto& s : sliders) {
        const HWND slider = find(L"msctls_trackbar32", L"", s.nth).window;
        const HWND edit = find(L"RICHEDIT50W", L"", s.nth).window;
        for (const int end : {0, 1}) {
            const int position = end == 0 ? 0 : 100;
            SendMessageW(slider, TBM_SETPOS, TRUE, position);
            SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                         reinterpret_cast<LPARAM>(slider));
            pump();
            const auto sets = sets_of(s.id);
            ASSERT_FALSE(sets.empty()) << s.id;
            EXPECT_EQ(test_filter::record_of<vendor_float_record>(sets.back().data).value, s.bounds[end])
                << "id " << s.id << " position " << position;
            EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), position) << "id " << s.id << ": the camera took it";
            EXPECT_EQ(window_text(edit), s.shown[end]) << "id " << s.id;
        }
    }
}

// Passing through an edit box writes nothing the user did not type; a
// changed text writes once, leaving it again before the page's refresh does
// not write it twice, and the text the refresh shows counts as unchanged. The
// focus arrives and leaves by its messages: the host need not be the active
// window, which another test's window may be meanwhile.
TEST_F(property_page, an_edit_box_writes_only_a_text_that_was_changed)
{
    activate(exposure_page);
    const auto set_count = [&] {
        std::size_t sets = 0;
        for (const auto& call : camera.backend->calls()) {
            sets += call.is_set ? 1 : 0;
        }
        return sets;
    };
    const auto enter = [](HWND edit) { SendMessageW(edit, WM_SETFOCUS, 0, 0); };
    const auto leave = [](HWND edit) { SendMessageW(edit, WM_KILLFOCUS, 0, 0); };
    std::vector<HWND> edits;
    for (const child& c : children_of(page_window)) {
        if (c.class_name.ends_with(L"RICHEDIT50W") && IsWindowEnabled(c.window)) {
            edits.push_back(c.window);
        }
    }
    ASSERT_GE(edits.size(), 2u) << "gain and exposure time";
    for (const HWND edit : edits) {
        enter(edit);
        leave(edit);
        pump();
    }
    EXPECT_EQ(set_count(), 0u);
    EXPECT_EQ(parse_errors, 0);

    const HWND gain_edit = edits[0];
    enter(gain_edit);
    SendMessageW(gain_edit, EM_SETSEL, 0, -1);
    for (const wchar_t c : std::wstring_view(L"12")) {
        SendMessageW(gain_edit, WM_CHAR, c, 0);
    }
    leave(gain_edit);
    enter(gain_edit);
    leave(gain_edit);
    EXPECT_EQ(set_count(), 1u) << "the text written is not written again";
    pump();
    const auto sets = sets_of(vendor::gain_hundredths);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(test_filter::record_of<vendor_int_record>(sets[0].data).value, 1200);
    EXPECT_EQ(window_text(gain_edit), L"12.000 dB");

    enter(gain_edit);
    leave(gain_edit);
    pump();
    EXPECT_EQ(set_count(), 1u);
    EXPECT_EQ(parse_errors, 0);
}

TEST_F(property_page, a_slider_change_and_its_refresh_read_each_property_once)
{
    auto counter = std::make_shared<page_bench::counting_backend>(camera.backend);
    auto filter = test_filter::test_filter::create(counter);
    activate(exposure_page, filter.get());
    const HWND slider = find(L"msctls_trackbar32", L"", 0).window; // Gain, 0 to 24 dB
    const HWND edit = find(L"RICHEDIT50W", L"", 0).window;

    SendMessageW(slider, TBM_SETPOS, TRUE, 50);
    counter->start_recording();
    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 50), reinterpret_cast<LPARAM>(slider));
    pump();
    const auto requests = counter->stop_recording();
    std::uint64_t total = 0;
    for (const auto& [key, count] : requests) {
        total += count;
        EXPECT_EQ(count, 1u) << page_bench::name_of(key.first) << " of id " << key.second.property_id;
    }
    // The gain written, then its value, the proc-amp's automatic mode, the
    // exposure time and the camera control's automatic mode read once each.
    EXPECT_LE(total, 8u);
    EXPECT_EQ(sets_of(vendor::gain_hundredths).size(), 1u);
    EXPECT_EQ(window_text(edit), L"12.000 dB");

    // Nothing is kept past the refresh: the next one reads what the camera
    // says then.
    vendor_int_record gain{};
    gain.value = 1800;
    gain.maximum = 2400;
    gain.flags = flag_manual;
    camera.backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gain_hundredths, gain);
    PostMessageW(page_window, VCDPropUI::refresh_controls, 0, 0);
    pump();
    EXPECT_EQ(window_text(edit), L"18.000 dB");
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 75);
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

// An item with one integer range that the test sets.
class range_item final : public CVCDItemDataBase {
public:
    int_range range{0, 100000, 0, 1};
    std::int32_t value = 70000;
    std::vector<std::int32_t> written;

    bool is_interface_supported(interface_id) override { return true; }
    HRESULT get_range(interface_id, int_range& out) override
    {
        out = range;
        return S_OK;
    }
    HRESULT get_value(interface_id, std::int32_t& out) override
    {
        out = value;
        return S_OK;
    }
    HRESULT set_value(interface_id, std::int32_t in) override
    {
        written.push_back(in);
        value = in;
        return S_OK;
    }
};

struct value_controls {
    VCDPropUI::slider_controller_ptr controller;
    VCDPropUI::CVCDSlider slider{controller};
    VCDPropUI::CVCDEdit edit{controller};
    VCDPropUI::CVCDSpinButton spin{controller};

    explicit value_controls(range_item* item, HWND page)
        : controller(new VCDPropUI::CRangeSliderController(VCDPropUI::make_slider_access(item_data_ptr(item), 0)))
    {
        slider.create(page, RECT{20, 500, 160, 523});
        edit.create(page, RECT{165, 500, 225, 522});
        spin.create(page, RECT{225, 500, 235, 522}, edit.window());
        slider.init();
        edit.init();
        spin.init();
    }
};

TEST_F(property_page, slider_and_spin_keep_ranges_past_16_bits_and_a_step_of_0_disables_them)
{
    activate(exposure_page);
    auto* wide = new range_item;
    wide->NonDelegatingAddRef(); // the test's own reference, beside the controls'
    {
        value_controls controls(wide, page_window);
        EXPECT_EQ(SendMessageW(controls.slider.window(), TBM_GETRANGEMAX, 0, 0), 100000);
        EXPECT_EQ(SendMessageW(controls.slider.window(), TBM_GETPOS, 0, 0), 70000);
        EXPECT_EQ(SendMessageW(controls.spin.window(), UDM_GETPOS32, 0, 0), 70000);
        SendMessageW(controls.spin.window(), UDM_SETPOS32, 0, 90000);
        SendMessageW(page_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0),
                     reinterpret_cast<LPARAM>(controls.spin.window()));
        EXPECT_EQ(wide->written, std::vector<std::int32_t>{90000});
        // What the page's refresh does for the controls of its own list.
        controls.slider.update_state();
        controls.edit.update_state();
        EXPECT_EQ(SendMessageW(controls.slider.window(), TBM_GETPOS, 0, 0), 90000) << "the slider follows the spin";
        EXPECT_EQ(window_text(controls.edit.window()), L"90000");
    }
    wide->NonDelegatingRelease();

    // All 32-bit values, step 1 (an integer feature without bounds): 100
    // shows inside the slider and writes back as 100; the right end writes
    // the maximum.
    auto* full = new range_item;
    full->range = {INT32_MIN, INT32_MAX, 0, 1};
    full->value = 100;
    full->NonDelegatingAddRef();
    {
        value_controls controls(full, page_window);
        const HWND slider = controls.slider.window();
        const LRESULT right_end = SendMessageW(slider, TBM_GETRANGEMAX, 0, 0);
        EXPECT_LT(SendMessageW(slider, TBM_GETPOS, 0, 0), right_end);
        SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(slider));
        SendMessageW(slider, TBM_SETPOS, TRUE, right_end);
        SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(slider));
        EXPECT_EQ(full->written, (std::vector<std::int32_t>{100, INT32_MAX}));
        controls.slider.update_state();
        EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), right_end);
    }
    full->NonDelegatingRelease();

    auto* flat = new range_item;
    flat->range = {0, 100, 0, 0};
    flat->value = 5;
    value_controls controls(flat, page_window);
    EXPECT_FALSE(IsWindowEnabled(controls.slider.window()));
    EXPECT_FALSE(IsWindowEnabled(controls.spin.window()));
    EXPECT_FALSE(IsWindowEnabled(controls.edit.window()));
    EXPECT_EQ(window_text(controls.edit.window()), L"5") << "the value itself still shows";
}

} // namespace
} // namespace page_tests
