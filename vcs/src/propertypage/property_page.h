#pragma once
// The one property page class behind all four pages; a page differs only by
// its title and the categories of items it shows. Given a capture filter, it
// builds the GenICam adapter over the filter's IKsPropertySet and, when
// active, lays out one group of controls per item that belongs to the page.
// Controls write values at once: there is nothing to apply.
//
// All operations run on the property frame's thread.

#include "propertypage/cunknown.h"
#include "propertypage/dpi_scale.h"
#include "propertypage/genicam_adapter_device.h"
#include "propertypage/uvc_base_page.h"
#include "propertypage/vcd_control_base.h"
#include "propertypage/vcd_item_tables.h"

#include <memory>
#include <string>
#include <vector>

class tmpPageInstance final : public uvc_page::CUVCBasePage, public CUnknown {
public:
    tmpPageInstance(UINT title_id, std::vector<std::wstring> categories, IUnknown* outer);
    ~tmpPageInstance() override;

    // IUnknown of the IPropertyPage face: the controlling unknown's.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;

    bool ProcessWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

    // The inner unknown, for the class factory.
    IUnknown* nondelegating_unknown() noexcept { return inner_unknown(); }

private:
    enum class row_mode { check, window };

    // True when at least one item would be shown (check mode) or was laid
    // out (window mode).
    bool build_rows(row_mode mode);
    bool layout_item(row_mode mode, const item_descriptor& descriptor, const item_data_ptr& item, int& y);
    // Places the element's controls from x on row y and moves x past them;
    // false when it made none.
    bool layout_element(const item_descriptor& descriptor, const element_descriptor& element,
                        const item_data_ptr& item, int& x, int y, const std::wstring& label);

    // Keeps `filter` and `adapter` when check mode shows an item over them,
    // handing back the ones kept before; otherwise keeps what it kept and
    // leaves the arguments as they were. Throws what the check throws.
    bool take_filter(atl::com_ptr<IKsPropertySet>& filter,
                     std::shared_ptr<genicam_adapter::GenICamAdapterDevice>& adapter);
    // Destroys every control and label of the page window.
    void release_rows() noexcept;
    // Window mode over the page window at the screen's resolution.
    void lay_out_rows() noexcept;

    bool add_control(std::shared_ptr<VCDPropUI::CVCDControlBase> control, const RECT& rect, HWND buddy = nullptr);
    void add_label(const std::wstring& text, const RECT& rect);
    int text_width(const std::wstring& text) const;
    bool reflect_notification(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

    std::vector<std::wstring> categories_;
    atl::com_ptr<IKsPropertySet> filter_;
    std::shared_ptr<genicam_adapter::GenICamAdapterDevice> adapter_;
    // Their items may read nodes of adapter_'s documents: every control goes
    // before the adapter it was laid out over.
    std::vector<std::shared_ptr<VCDPropUI::CVCDControlBase>> controls_;
    uvc_page::dpi_scale scale_;
};
