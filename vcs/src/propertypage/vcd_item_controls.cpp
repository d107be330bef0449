#include "propertypage/vcd_item_controls.h"

#include <vector>

namespace VCDPropUI {

namespace {

constexpr DWORD switch_style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;     // 0x50010002
constexpr DWORD button_style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;   // 0x50010000
constexpr DWORD combo_style =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_AUTOHSCROLL | CBS_DROPDOWNLIST; // 0x50210043

// A reflected WM_COMMAND that this window sent with `code`.
bool is_own_command(HWND self, UINT message, WPARAM wparam, LPARAM lparam, WORD code) noexcept
{
    return message == reflected_message_base + WM_COMMAND && HIWORD(wparam) == code &&
           reinterpret_cast<HWND>(lparam) == self;
}

} // namespace

bool item_flag(HRESULT (VCDAdapterHelper::CVCDItemDataBase::*read)(interface_id, bool&), const item_data_ptr& item,
               interface_id id, bool fallback)
{
    bool flag = fallback;
    if (!item || FAILED(((*item.get()).*read)(id, flag))) {
        return fallback;
    }
    return flag;
}

void begin_item_refresh(const item_data_ptr& item, interface_id id)
{
    if (item) {
        item->begin_refresh();
        item->refresh(id);
    }
}

void end_item_refresh(const item_data_ptr& item)
{
    if (item) {
        item->end_refresh();
    }
}

CVCDSwitch::CVCDSwitch(item_data_ptr item, interface_id id, std::wstring caption)
    : control_window(L"BUTTON", switch_style), item_(std::move(item)), id_(id), caption_(std::move(caption))
{
}

bool CVCDSwitch::create(HWND parent, const RECT& rect, HWND)
{
    return create_window(parent, rect, caption_);
}

void CVCDSwitch::init()
{
    SetWindowTextW(hwnd(), caption_.c_str());
    update_state();
}

void CVCDSwitch::begin_refresh()
{
    begin_item_refresh(item_, id_);
}

void CVCDSwitch::end_refresh()
{
    end_item_refresh(item_);
}

void CVCDSwitch::update_state()
{
    EnableWindow(hwnd(), item_flag(&VCDAdapterHelper::CVCDItemDataBase::is_available, item_, id_, false));
    const bool on = item_flag(&VCDAdapterHelper::CVCDItemDataBase::get_switch, item_, id_, false);
    SendMessageW(hwnd(), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    update_value();
}

void CVCDSwitch::update_value() {}

void CVCDSwitch::clicked()
{
    // A switch that cannot say whether it is read-only is not written.
    if (item_flag(&VCDAdapterHelper::CVCDItemDataBase::is_read_only, item_, id_, true)) {
        return;
    }
    const bool on = SendMessageW(hwnd(), BM_GETCHECK, 0, 0) != BST_CHECKED;
    SendMessageW(hwnd(), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    item_->set_switch(id_, on);
    tell_page_to_refresh();
}

LRESULT CVCDSwitch::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    if (is_own_command(hwnd(), message, wparam, lparam, BN_CLICKED)) {
        handled = true;
        clicked();
    }
    return 0;
}

CVCDButton::CVCDButton(item_data_ptr item, interface_id id, std::wstring caption)
    : control_window(L"BUTTON", button_style), item_(std::move(item)), id_(id), caption_(std::move(caption))
{
}

bool CVCDButton::create(HWND parent, const RECT& rect, HWND)
{
    return create_window(parent, rect, caption_);
}

void CVCDButton::init()
{
    SetWindowTextW(hwnd(), caption_.c_str());
    update_state();
}

void CVCDButton::begin_refresh()
{
    begin_item_refresh(item_, id_);
}

void CVCDButton::end_refresh()
{
    end_item_refresh(item_);
}

void CVCDButton::update_state()
{
    EnableWindow(hwnd(), item_flag(&VCDAdapterHelper::CVCDItemDataBase::is_available, item_, id_, false));
}

void CVCDButton::update_value() {}

LRESULT CVCDButton::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    if (is_own_command(hwnd(), message, wparam, lparam, BN_CLICKED)) {
        handled = true;
        if (item_) {
            item_->push(id_);
        }
        tell_page_to_refresh();
    }
    return 0;
}

CVCDCombo::CVCDCombo(item_data_ptr item, interface_id id)
    : control_window(L"COMBOBOX", combo_style), item_(std::move(item)), id_(id)
{
}

bool CVCDCombo::create(HWND parent, const RECT& rect, HWND)
{
    return create_window(parent, rect, std::wstring{});
}

void CVCDCombo::init()
{
    list_entries(true);
    update_state();
}

void CVCDCombo::list_entries(bool first)
{
    std::vector<std::wstring> entries;
    std::vector<atl::bstr> texts;
    if (item_ && SUCCEEDED(item_->get_map_strings(id_, texts))) {
        for (const atl::bstr& text : texts) {
            entries.emplace_back(text.view());
        }
    }
    if (!first && entries == listed_) {
        return;
    }
    SendMessageW(hwnd(), CB_RESETCONTENT, 0, 0);
    for (const std::wstring& entry : entries) {
        SendMessageW(hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    listed_ = std::move(entries);
}

void CVCDCombo::begin_refresh()
{
    begin_item_refresh(item_, id_);
}

void CVCDCombo::end_refresh()
{
    end_item_refresh(item_);
}

void CVCDCombo::update_state()
{
    // A refresh may have changed which entries the item offers (an
    // enumeration's usable entries are looked up again): positions must name
    // the entries shown.
    list_entries(false);
    EnableWindow(hwnd(), item_flag(&VCDAdapterHelper::CVCDItemDataBase::is_available, item_, id_, false));
    update_value();
}

void CVCDCombo::update_value()
{
    std::int32_t index = -1;
    if (!item_ || FAILED(item_->get_value(id_, index))) {
        index = -1;
    }
    SendMessageW(hwnd(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

LRESULT CVCDCombo::handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled)
{
    if (is_own_command(hwnd(), message, wparam, lparam, CBN_SELCHANGE)) {
        handled = true;
        const auto selected = SendMessageW(hwnd(), CB_GETCURSEL, 0, 0);
        if (selected != CB_ERR && item_) {
            item_->set_value(id_, static_cast<std::int32_t>(selected));
        }
        tell_page_to_refresh();
    }
    return 0;
}

} // namespace VCDPropUI
