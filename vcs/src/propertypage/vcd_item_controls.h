#pragma once
// The controls that talk to their item directly: a check box for a switch, a
// push button, and a drop-down list for map strings.

#include "propertypage/item_data_ptr.h"
#include "propertypage/vcd_control_base.h"

#include <string>
#include <vector>

namespace VCDPropUI {

class CVCDSwitch final : public CVCDControlBase, public control_window {
public:
    CVCDSwitch(item_data_ptr item, interface_id id, std::wstring caption);

    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    void init() override;
    // Enabled by is_available, checked by get_switch.
    void update_state() override;
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;
    void clicked();

    item_data_ptr item_;
    interface_id id_;
    std::wstring caption_;
};

class CVCDButton final : public CVCDControlBase, public control_window {
public:
    CVCDButton(item_data_ptr item, interface_id id, std::wstring caption);

    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    void init() override;
    // Enabled by is_available.
    void update_state() override;
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;

    item_data_ptr item_;
    interface_id id_;
    std::wstring caption_;
};

class CVCDCombo final : public CVCDControlBase, public control_window {
public:
    CVCDCombo(item_data_ptr item, interface_id id);

    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    // Lists the item's map strings.
    void init() override;
    void update_state() override;
    // Selects the entry at the item's value; none when it cannot be read.
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;
    // Lists the item's map strings, unless they are those listed already.
    void list_entries(bool first);

    item_data_ptr item_;
    interface_id id_;
    std::vector<std::wstring> listed_;
};

// A refresh of the page's controls for the item of one control: the item
// drops what it keeps for `id` and answers each property once until the end.
void begin_item_refresh(const item_data_ptr& item, interface_id id);
void end_item_refresh(const item_data_ptr& item);

// The item's flag; `fallback` when the item cannot say (a camera that is gone
// leaves its controls disabled).
bool item_flag(HRESULT (VCDAdapterHelper::CVCDItemDataBase::*read)(interface_id, bool&),
               const item_data_ptr& item, interface_id id, bool fallback);

} // namespace VCDPropUI
