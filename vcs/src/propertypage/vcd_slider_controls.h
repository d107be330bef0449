#pragma once
// The three controls of a value element: a track bar, an edit box and a spin
// button, all working through one slider controller so that they stay in step.

#include "propertypage/slider_controller.h"
#include "propertypage/vcd_control_base.h"

#include <string>

namespace VCDPropUI {

class CVCDSlider final : public CVCDControlBase, public control_window {
public:
    explicit CVCDSlider(slider_controller_ptr controller);

    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    // Positions from the controller (none when it has none to give).
    void init() override;
    // Enabled when available and not read-only.
    void update_state() override;
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;

    slider_controller_ptr controller_;
};

class CVCDEdit final : public CVCDControlBase, public control_window {
public:
    // Tells the user that a typed text was not understood. A message box by
    // default; tests replace it.
    using parse_error_reporter = void (*)(HWND edit);
    static void set_parse_error_reporter(parse_error_reporter reporter) noexcept;

    explicit CVCDEdit(slider_controller_ptr controller);

    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    void init() override;
    void update_state() override;
    // The controller's text; empty when it has none.
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;
    void set_background(int system_colour);
    void take_typed_text();

    slider_controller_ptr controller_;
    // What update_value showed last, or the text written (or refused by the
    // item) since: a text left
    // as it was is not written back when the focus leaves (a page closing
    // over a camera that is gone would otherwise answer its own text with an
    // error box).
    std::wstring shown_;
};

class CVCDSpinButton final : public CVCDControlBase, public control_window {
public:
    explicit CVCDSpinButton(slider_controller_ptr controller);

    // Makes `buddy` (the edit box) its buddy.
    bool create(HWND parent, const RECT& rect, HWND buddy = nullptr) override;
    void init() override;
    void update_state() override;
    void update_value() override;
    void begin_refresh() override;
    void end_refresh() override;
    HWND window() const noexcept override { return hwnd(); }

private:
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override;

    slider_controller_ptr controller_;
};

} // namespace VCDPropUI
