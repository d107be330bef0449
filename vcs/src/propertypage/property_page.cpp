#include "propertypage/property_page.h"

#include "propertypage/hr_exception.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <commctrl.h>

#include <cstdint>
#include <cstring>

namespace {

// The device-information block that a camera filter of ours answers.
constexpr DWORD device_info_size = 144;
constexpr DWORD support_get = 1; // QuerySupported bit of a readable property
constexpr std::uint32_t camera_device_kind = 9;
// Ids of the GenICam-access set.
constexpr DWORD register_access_id = 3;
constexpr DWORD named_access_id = 4;

bool answers_camera_device_information(IKsPropertySet& filter)
{
    DWORD support = 0;
    if (FAILED(filter.QuerySupported(cam::PROPSETID_DRIVER_INFO_REQ, 0, &support)) ||
        (support & support_get) == 0) {
        return false;
    }
    std::uint8_t block[device_info_size] = {};
    DWORD returned = 0;
    if (FAILED(filter.Get(cam::PROPSETID_DRIVER_INFO_REQ, 0, block, sizeof(block), block, sizeof(block),
                          &returned)) ||
        returned < device_info_size) {
        return false;
    }
    std::uint32_t kind = 0;
    std::memcpy(&kind, block, sizeof(kind));
    return kind == camera_device_kind;
}

bool supports_genicam_access(IKsPropertySet& filter, DWORD id)
{
    DWORD support = 0;
    return SUCCEEDED(filter.QuerySupported(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id, &support)) && support != 0;
}

uvc_page::dpi_scale screen_scale()
{
    uvc_page::dpi_scale scale;
    if (HDC screen = GetDC(nullptr)) {
        scale.dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
        scale.dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    return scale;
}

// The control that a notification names, when it names one.
HWND notifying_child(HWND page, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_COMMAND:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<HWND>(lparam);
    case WM_NOTIFY:
        return lparam != 0 ? reinterpret_cast<const NMHDR*>(lparam)->hwndFrom : nullptr;
    case WM_PARENTNOTIFY:
        if (LOWORD(wparam) == WM_CREATE || LOWORD(wparam) == WM_DESTROY) {
            return reinterpret_cast<HWND>(lparam);
        }
        return GetDlgItem(page, HIWORD(wparam));
    case WM_DRAWITEM:
        return wparam != 0 && lparam != 0 ? reinterpret_cast<const DRAWITEMSTRUCT*>(lparam)->hwndItem : nullptr;
    case WM_MEASUREITEM:
        return wparam != 0 && lparam != 0
                   ? GetDlgItem(page, static_cast<int>(reinterpret_cast<const MEASUREITEMSTRUCT*>(lparam)->CtlID))
                   : nullptr;
    case WM_COMPAREITEM:
        return lparam != 0 ? reinterpret_cast<const COMPAREITEMSTRUCT*>(lparam)->hwndItem : nullptr;
    case WM_DELETEITEM:
        return lparam != 0 ? reinterpret_cast<const DELETEITEMSTRUCT*>(lparam)->hwndItem : nullptr;
    default:
        return nullptr;
    }
}

} // namespace

tmpPageInstance::tmpPageInstance(UINT title_id, std::vector<std::wstring> categories, IUnknown* outer)
    : CUVCBasePage(title_id), CUnknown(outer), categories_(std::move(categories))
{
}

tmpPageInstance::~tmpPageInstance()
{
    if (IsWindow()) {
        DestroyWindow();
    }
    controls_.clear();
    adapter_.reset();
    filter_.reset();
    m_pPageSite.reset();
    release_objects();
}

STDMETHODIMP tmpPageInstance::QueryInterface(REFIID iid, void** object)
{
    return owner()->QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) tmpPageInstance::AddRef()
{
    return owner()->AddRef();
}

STDMETHODIMP_(ULONG) tmpPageInstance::Release()
{
    return owner()->Release();
}

HRESULT STDMETHODCALLTYPE tmpPageInstance::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (object != nullptr && IsEqualIID(iid, IID_IPropertyPage)) {
        auto* page = static_cast<IPropertyPage*>(this);
        page->AddRef();
        *object = page;
        return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

STDMETHODIMP tmpPageInstance::SetObjects(ULONG count, IUnknown** objects)
{
    if (objects == nullptr) {
        return E_POINTER;
    }
    try {
        for (ULONG i = 0; i < count; ++i) {
            if (objects[i] == nullptr) {
                continue;
            }
            atl::com_ptr<IKsPropertySet> filter;
            if (FAILED(objects[i]->QueryInterface(IID_IKsPropertySet, filter.put_void())) || !filter ||
                !answers_camera_device_information(*filter.get())) {
                continue;
            }
            auto adapter = std::make_shared<genicam_adapter::GenICamAdapterDevice>(filter.get());
            const bool named = supports_genicam_access(*filter.get(), named_access_id);
            const bool registers = supports_genicam_access(*filter.get(), register_access_id);
            if (!named && !registers) {
                throw genicam_adapter::hr_exception("Failed to access GenICam data");
            }
            adapter->set_access(registers, named);
            // From here on `filter` and `adapter` hold the earlier filter's,
            // which outlive the controls that read its documents.
            if (!take_filter(filter, adapter)) {
                continue;
            }
            const HRESULT hr = IPropertyPageImpl::SetObjects(count, objects);
            if (FAILED(hr)) {
                std::swap(filter_, filter);
                std::swap(adapter_, adapter);
                return hr;
            }
            if (IsWindow()) {
                // Active: the controls read the earlier adapter's documents.
                // They go first; the rows are laid out anew over this filter.
                release_rows();
                lay_out_rows();
            }
            return hr;
        }
    } catch (const genicam_adapter::hr_exception& failure) {
        OutputDebugStringA(
            ("[CamTovra] tmpPageInstance::SetObjects, " + std::string(failure.what()) + "\n").c_str());
        return failure.hr();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return E_NOINTERFACE;
}

bool tmpPageInstance::take_filter(atl::com_ptr<IKsPropertySet>& filter,
                                  std::shared_ptr<genicam_adapter::GenICamAdapterDevice>& adapter)
{
    // The check lays out rows over the kept filter and adapter, so the
    // candidate stands in for the accepted ones; a refusal puts them back and
    // nothing of the refused filter stays.
    std::swap(filter_, filter);
    std::swap(adapter_, adapter);
    bool shown = false;
    try {
        shown = build_rows(row_mode::check);
    } catch (...) {
        std::swap(filter_, filter);
        std::swap(adapter_, adapter);
        throw;
    }
    if (!shown) {
        std::swap(filter_, filter);
        std::swap(adapter_, adapter);
    }
    return shown;
}

void tmpPageInstance::release_rows() noexcept
{
    // Controls destroy their own windows; the labels are the page's.
    controls_.clear();
    HWND child = ::GetWindow(m_hWnd, GW_CHILD);
    while (child != nullptr) {
        const HWND next = ::GetWindow(child, GW_HWNDNEXT);
        ::DestroyWindow(child);
        child = next;
    }
}

void tmpPageInstance::lay_out_rows() noexcept
{
    scale_ = screen_scale();
    try {
        build_rows(row_mode::window);
    } catch (...) {
        // A page that could not lay out every item still shows the others.
    }
}

STDMETHODIMP tmpPageInstance::Activate(HWND parent, LPCRECT rect, BOOL)
{
    if (IsWindow()) {
        // Already active: the one page window, with its one set of controls,
        // goes where this call asks for it.
        if (parent != nullptr && ::GetParent(m_hWnd) != parent) {
            ::SetParent(m_hWnd, parent);
        }
        if (rect != nullptr) {
            MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
        }
        return S_OK;
    }
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    camtovra_propertypage::load_rich_edit_libraries();
    if (Create(parent, page_module()) == nullptr) {
        return S_OK;
    }
    if (rect != nullptr) {
        MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    }
    lay_out_rows();
    return S_OK;
}

STDMETHODIMP tmpPageInstance::Deactivate()
{
    IPropertyPageImpl::Deactivate();
    m_hWnd = nullptr;
    controls_.clear();
    return S_OK;
}

bool tmpPageInstance::reflect_notification(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result)
{
    if (message == WM_COMMAND && lparam == 0) {
        return false; // a menu or an accelerator, not a control
    }
    HWND child = notifying_child(window, message, wparam, lparam);
    if (child == nullptr || !::IsWindow(child) || child == window) {
        return false;
    }
    result = ::SendMessageW(child, VCDPropUI::reflected_message_base + message, wparam, lparam);
    return true;
}

bool tmpPageInstance::ProcessWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                           LRESULT& result)
{
    if (reflect_notification(window, message, wparam, lparam, result)) {
        return true;
    }
    if (message == VCDPropUI::refresh_controls) {
        // A copy: a control may not outlive a refresh that ends the page, but
        // the list must not change under the walk.
        const auto controls = controls_;
        VCDPropUI::refresh_all(controls);
        result = 1;
        return true;
    }
    if (message == WM_STYLECHANGING && wparam == static_cast<WPARAM>(GWL_EXSTYLE)) {
        // Keyboard navigation enters the page's controls.
        reinterpret_cast<STYLESTRUCT*>(lparam)->styleNew |= WS_EX_CONTROLPARENT;
        result = 0;
        return true;
    }
    return false;
}
