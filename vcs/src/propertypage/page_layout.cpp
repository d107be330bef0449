// The page's rows: which items belong to the page, and where each element's
// controls go.

#include "propertypage/property_page.h"

#include "propertypage/abs_val_exposure_slider_controller.h"
#include "propertypage/hr_exception.h"
#include "propertypage/item_slider_access.h"
#include "propertypage/range_slider_controller.h"
#include "propertypage/value_text.h"
#include "propertypage/vcd_item_controls.h"
#include "propertypage/vcd_slider_controls.h"

#include <algorithm>
#include <map>
#include <optional>
#include <span>
#include <tuple>

namespace {

// Rows follow item GUIDs in this order: Data1, Data2, Data3, then the Data4
// bytes, all unsigned.
struct guid_order {
    bool operator()(const GUID& a, const GUID& b) const noexcept
    {
        return std::tie(a.Data1, a.Data2, a.Data3) < std::tie(b.Data1, b.Data2, b.Data3) ||
               (std::tie(a.Data1, a.Data2, a.Data3) == std::tie(b.Data1, b.Data2, b.Data3) &&
                std::lexicographical_compare(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4),
                                             std::end(b.Data4)));
    }
};

constexpr GUID exposure_item_guid = {0x90d5702e, 0xe43b, 0x4366, {0xaa, 0xeb, 0x7a, 0x7a, 0x10, 0xb4, 0x48, 0xb4}};
// White balance shows its colour channels on rows of their own; with the blue
// channel shown, a Value element does not go onto its label row.
constexpr GUID whitebalance_item_guid = {
    0x284c0e0d, 0x010b, 0x45bf, {0x82, 0x91, 0x09, 0xd9, 0x0a, 0x45, 0x9b, 0x28}};
constexpr GUID whitebalance_blue_guid = {
    0x6519038a, 0x1ad8, 0x4e91, {0x90, 0x21, 0x66, 0xd6, 0x40, 0x90, 0xcc, 0x85}};

constexpr DWORD label_style = WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE;

// Lengths in pixels at 96 dots per inch.
constexpr int first_row_top = 18;
constexpr int row_height = 30;
constexpr int label_left = 20;
constexpr int element_row_left = 40;
constexpr int label_min_width = 110;
constexpr int control_height = 23;
constexpr int edit_height = 22;
constexpr int gap = 5;
constexpr int slider_width = 140;
constexpr int edit_width = 60;
constexpr int spin_width = 10;
constexpr int spin_advance = 20;
constexpr int combo_list_height = 150;
constexpr int edit_text_margin = 10;
// Switches and buttons: room for the box and the frame, in device pixels.
constexpr int caption_allowance = 25;

std::wstring abs_value_text(double value, const std::wstring& unit)
{
    const std::string number = VCDAdapterHelper::fixed_point_text(value, 2);
    std::wstring text(number.begin(), number.end());
    text += L' ';
    text += unit;
    if (text.size() > 19) {
        text.resize(19);
    }
    return text;
}

bool element_shown(const element_descriptor& element, const item_data_ptr& item)
{
    if (element.hidden > 0) {
        return false;
    }
    return std::any_of(element.interfaces.begin(), element.interfaces.end(),
                       [&](const element_interface& entry) { return item->is_interface_supported(entry.id); });
}

RECT rect_at(int x, int y, int width, int height)
{
    return RECT{x, y, x + width, y + height};
}

} // namespace

bool tmpPageInstance::build_rows(row_mode mode)
{
    if (mode == row_mode::window) {
        const auto font = SendMessage(WM_GETFONT);
        SendMessage(WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    }

    std::map<GUID, std::vector<const item_descriptor*>, guid_order> items;
    auto collect = [&](std::span<const item_descriptor> descriptors) {
        for (const item_descriptor& descriptor : descriptors) {
            if (!descriptor.item_name.empty()) {
                items[descriptor.item_guid].push_back(&descriptor);
            }
        }
    };
    collect(builtin_item_descriptors());
    if (adapter_) {
        std::span<const item_descriptor> camera_items;
        const HRESULT hr = adapter_->load_genicam_documents(camera_items);
        if (FAILED(hr)) {
            if (mode == row_mode::check) {
                throw genicam_adapter::hr_exception(adapter_->last_error(), hr);
            }
        } else {
            collect(camera_items);
        }
    }

    const uvc_page::dpi_scale scale = mode == row_mode::window ? scale_ : uvc_page::dpi_scale{};
    int y = scale.y(first_row_top);
    bool any_shown = false;
    for (auto& [guid, candidates] : items) {
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const item_descriptor* a, const item_descriptor* b) { return a->priority > b->priority; });
        const auto belongs = [&](const item_descriptor* descriptor) {
            if (categories_.empty()) {
                return true;
            }
            const std::wstring category = descriptor->category.value_or(L"Exposure");
            return std::find(categories_.begin(), categories_.end(), category) != categories_.end();
        };
        const auto chosen = std::find_if(candidates.begin(), candidates.end(), belongs);
        if (chosen == candidates.end() || (*chosen)->create == nullptr) {
            continue;
        }
        const item_descriptor& descriptor = **chosen;
        item_data_ptr item = descriptor.create(filter_.get(), descriptor);
        if (item && layout_item(mode, descriptor, item, y)) {
            any_shown = true;
        }
    }
    return any_shown;
}

bool tmpPageInstance::layout_item(row_mode mode, const item_descriptor& descriptor, const item_data_ptr& item, int& y)
{
    std::vector<const element_descriptor*> shown;
    for (const element_descriptor& element : descriptor.elements) {
        if (element_shown(element, item)) {
            shown.push_back(&element);
        }
    }
    if (shown.empty()) {
        return false;
    }
    if (mode == row_mode::check) {
        return true;
    }

    const auto find_shown = [&](const GUID& guid) -> const element_descriptor* {
        const auto found = std::find_if(shown.begin(), shown.end(),
                                        [&](const element_descriptor* e) { return IsEqualGUID(e->element_guid, guid); });
        return found == shown.end() ? nullptr : *found;
    };
    const element_descriptor* value = find_shown(vcd_element::value);
    const element_descriptor* automatic = find_shown(vcd_element::auto_mode);
    const element_descriptor* one_push = find_shown(vcd_element::one_push);
    if (IsEqualGUID(descriptor.item_guid, whitebalance_item_guid) && find_shown(whitebalance_blue_guid) != nullptr) {
        value = nullptr;
    }

    const int label_width = std::max(text_width(descriptor.item_name), scale_.x(label_min_width));
    add_label(descriptor.item_name, rect_at(scale_.x(label_left), y, label_width, scale_.y(control_height)));
    int label_row_x = scale_.x(label_left) + label_width + scale_.x(gap);
    for (const element_descriptor* element : {value, automatic, one_push}) {
        if (element != nullptr) {
            layout_element(descriptor, *element, item, label_row_x, y, std::wstring{});
        }
    }
    y += scale_.y(row_height);

    for (const element_descriptor* element : shown) {
        if (element == value || element == automatic || element == one_push) {
            continue;
        }
        const bool attached = IsEqualGUID(element->attached_to[0], vcd_element::value) ||
                              IsEqualGUID(element->attached_to[1], vcd_element::value);
        if (attached) {
            layout_element(descriptor, *element, item, label_row_x, y - scale_.y(row_height), std::wstring{});
            continue;
        }
        int x = scale_.x(element_row_left);
        if (layout_element(descriptor, *element, item, x, y, element->name)) {
            y += scale_.y(row_height);
        }
    }
    return true;
}

bool tmpPageInstance::layout_element(const item_descriptor& descriptor, const element_descriptor& element,
                                     const item_data_ptr& item, int& x, int y, const std::wstring& label)
{
    const element_interface* chosen = nullptr;
    for (const element_interface& entry : element.interfaces) {
        if (static_cast<int>(entry.kind) < 5 && item->is_interface_supported(entry.id) &&
            (chosen == nullptr || entry.kind > chosen->kind)) {
            chosen = &entry;
        }
    }
    if (chosen == nullptr) {
        return false;
    }

    int slider = scale_.x(slider_width);
    int edit = scale_.x(edit_width);
    VCDPropUI::slider_controller_ptr controller;
    std::shared_ptr<VCDPropUI::CVCDControlBase> single;
    int single_width = 0;
    int single_height = scale_.y(control_height);

    switch (chosen->kind) {
    case interface_kind::switch_:
        single = std::make_shared<VCDPropUI::CVCDSwitch>(item, chosen->id, element.name);
        single_width = text_width(element.name) + caption_allowance;
        break;
    case interface_kind::button:
        single = std::make_shared<VCDPropUI::CVCDButton>(item, chosen->id, element.name);
        single_width = text_width(element.name) + caption_allowance;
        break;
    case interface_kind::map_strings: {
        single = std::make_shared<VCDPropUI::CVCDCombo>(item, chosen->id);
        single_width = std::max(scale_.x(slider_width) + scale_.x(edit_width) + scale_.x(25), scale_.x(edit_width));
        std::vector<atl::bstr> texts;
        if (SUCCEEDED(item->get_map_strings(chosen->id, texts))) {
            for (const atl::bstr& text : texts) {
                single_width = std::max(single_width, text_width(std::wstring(text.view())));
            }
        }
        single_height = scale_.y(combo_list_height);
        break;
    }
    case interface_kind::range:
        controller = VCDPropUI::slider_controller_ptr(
            new VCDPropUI::CRangeSliderController(VCDPropUI::make_slider_access(item, chosen->id)));
        break;
    case interface_kind::absolute_value: {
        VCDAdapterHelper::abs_range range;
        if (FAILED(item->get_abs_range(chosen->id, range))) {
            return false;
        }
        atl::bstr unit_text;
        std::int32_t scale_kind = 0;
        std::wstring unit;
        if (SUCCEEDED(item->get_abs_dimension(chosen->id, unit_text, scale_kind))) {
            unit = unit_text.view();
        }
        auto access = VCDPropUI::make_slider_access(item, chosen->id);
        if (IsEqualGUID(descriptor.item_guid, exposure_item_guid) && unit == L"sec") {
            controller = VCDPropUI::slider_controller_ptr(new VCDPropUI::CAbsValExposureSliderController(std::move(access)));
        } else {
            controller = VCDPropUI::slider_controller_ptr(new VCDPropUI::CAbsValSliderController(std::move(access)));
        }
        int widest = 0;
        for (const double shown : {range.minimum, range.maximum, (range.minimum + range.maximum) / 2}) {
            widest = std::max(widest, text_width(abs_value_text(shown, unit)));
        }
        widest += scale_.x(edit_text_margin);
        if (widest > edit) {
            slider -= widest - edit;
            edit = widest;
        }
        break;
    }
    default:
        return false;
    }

    const bool with_label = !label.empty() && (controller || chosen->kind == interface_kind::map_strings);
    if (with_label) {
        const int width = std::max(text_width(label), scale_.x(label_min_width));
        add_label(label, rect_at(x, y, width, scale_.y(control_height)));
        x += width + scale_.x(gap);
    }
    if (controller) {
        add_control(std::make_shared<VCDPropUI::CVCDSlider>(controller), rect_at(x, y, slider, scale_.y(control_height)));
        x += slider + scale_.x(gap);
        auto edit_box = std::make_shared<VCDPropUI::CVCDEdit>(controller);
        add_control(edit_box, rect_at(x, y, edit, scale_.y(edit_height)));
        x += edit;
        add_control(std::make_shared<VCDPropUI::CVCDSpinButton>(controller),
                    rect_at(x, y, scale_.x(spin_width), scale_.y(edit_height)), edit_box->window());
        x += scale_.x(spin_advance);
        return true;
    }
    add_control(single, rect_at(x, y, single_width, single_height));
    x += single_width + scale_.x(gap);
    return true;
}

bool tmpPageInstance::add_control(std::shared_ptr<VCDPropUI::CVCDControlBase> control, const RECT& rect, HWND buddy)
{
    if (!control->create(m_hWnd, rect, buddy)) {
        return false;
    }
    control->init();
    controls_.push_back(std::move(control));
    return true;
}

void tmpPageInstance::add_label(const std::wstring& text, const RECT& rect)
{
    // A child of the page: destroyed with it.
    const HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), label_style, rect.left, rect.top,
                                       rect.right - rect.left, rect.bottom - rect.top, m_hWnd, nullptr,
                                       page_module(), nullptr);
    if (label != nullptr) {
        ::SendMessageW(label, WM_SETFONT, static_cast<WPARAM>(SendMessage(WM_GETFONT)), FALSE);
    }
}

int tmpPageInstance::text_width(const std::wstring& text) const
{
    HDC context = GetDC(m_hWnd);
    if (context == nullptr) {
        return 0;
    }
    const HGDIOBJ old = SelectObject(context, reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(context, old);
    ReleaseDC(m_hWnd, context);
    return size.cx;
}
