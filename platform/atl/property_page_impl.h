#pragma once
// Stand-in for the template library's property-page base: the page site, the
// object array and the dirty flag, and the IPropertyPage operations that every
// page answers the same way. T provides
//   HWND page_window() const          the page's dialog, null when inactive
//   HINSTANCE page_module() const     the module with the page's resources
//   static constexpr int IDD          its dialog template
// and the members m_dwTitleID, m_dwHelpFileID, m_dwDocStringID and
// m_dwHelpContext are the page's string ids (0: none).

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "atl/com_ptr.h"
#include "atl/dialog_size.h"

#include <new>
#include <string>
#include <vector>

namespace ATL {

template <class T>
class IPropertyPageImpl : public IPropertyPage {
public:
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override
    {
        if (site != nullptr && m_pPageSite) {
            return E_UNEXPECTED;
        }
        m_pPageSite.reset();
        if (site != nullptr) {
            site->AddRef();
            m_pPageSite = atl::com_ptr<IPropertyPageSite>(site);
        }
        return S_OK;
    }

    STDMETHODIMP Deactivate() override
    {
        T* page = static_cast<T*>(this);
        if (HWND window = page->page_window(); window != nullptr && ::IsWindow(window)) {
            ::DestroyWindow(window);
        }
        return S_OK;
    }

    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override
    {
        if (info == nullptr) {
            return E_POINTER;
        }
        const T* page = static_cast<const T*>(this);
        SIZE size{};
        if (!atl::dialog_template_size(page->page_module(), T::IDD, size)) {
            return E_UNEXPECTED;
        }
        LPOLESTR title = load_task_string(m_dwTitleID);
        if (m_dwTitleID != 0 && title == nullptr) {
            return E_OUTOFMEMORY;
        }
        info->cb = sizeof(PROPPAGEINFO);
        info->pszTitle = title;
        info->size = size;
        info->pszDocString = load_task_string(m_dwDocStringID);
        info->pszHelpFile = load_task_string(m_dwHelpFileID);
        info->dwHelpContext = m_dwHelpContext;
        return S_OK;
    }

    // Keeps every object of the array, each with a reference of its own.
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override
    {
        if (objects == nullptr && count != 0) {
            return E_POINTER;
        }
        try {
            std::vector<atl::com_ptr<IUnknown>> kept;
            kept.reserve(count);
            for (ULONG i = 0; i < count; ++i) {
                if (objects[i] != nullptr) {
                    objects[i]->AddRef();
                }
                kept.emplace_back(objects[i]);
            }
            m_objects = std::move(kept);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP Show(UINT command) override
    {
        HWND window = static_cast<T*>(this)->page_window();
        if (window == nullptr) {
            return E_UNEXPECTED;
        }
        ::ShowWindow(window, static_cast<int>(command));
        return S_OK;
    }

    STDMETHODIMP Move(LPCRECT rect) override
    {
        HWND window = static_cast<T*>(this)->page_window();
        if (window == nullptr) {
            return E_UNEXPECTED;
        }
        if (rect == nullptr) {
            return E_POINTER;
        }
        ::MoveWindow(window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    STDMETHODIMP IsPageDirty() override { return m_bDirty ? S_OK : S_FALSE; }

    STDMETHODIMP Apply() override
    {
        if (m_bDirty) {
            m_bDirty = false;
            if (m_pPageSite) {
                m_pPageSite->OnStatusChange(PROPPAGESTATUS_CLEAN);
            }
        }
        return S_OK;
    }

    STDMETHODIMP Help(LPCOLESTR help_dir) override
    {
        const std::wstring file = load_string(m_dwHelpFileID);
        if (file.empty()) {
            return E_OUTOFMEMORY;
        }
        std::wstring path = help_dir != nullptr ? help_dir : L"";
        path += L"\\";
        path += file;
        ::WinHelpW(static_cast<T*>(this)->page_window(), path.c_str(), HELP_CONTEXTPOPUP, m_dwHelpContext);
        return S_OK;
    }

    STDMETHODIMP TranslateAccelerator(MSG* message) override
    {
        if (message == nullptr) {
            return E_POINTER;
        }
        const bool keyboard = message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST;
        const bool mouse = message->message >= WM_MOUSEFIRST && message->message <= WM_MOUSELAST;
        HWND window = static_cast<T*>(this)->page_window();
        if ((keyboard || mouse) && window != nullptr && ::IsDialogMessageW(window, message)) {
            return S_OK;
        }
        return S_FALSE;
    }

protected:
    IPropertyPageImpl() = default;
    virtual ~IPropertyPageImpl() = default;

    // A string of the page's string table; empty when there is none.
    std::wstring load_string(UINT id) const
    {
        if (id == 0) {
            return {};
        }
        const wchar_t* text = nullptr;
        const int length =
            ::LoadStringW(static_cast<const T*>(this)->page_module(), id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring{};
    }
    // The string in task memory (the caller frees it); null when none.
    LPOLESTR load_task_string(UINT id) const
    {
        const std::wstring text = load_string(id);
        if (text.empty()) {
            return nullptr;
        }
        auto* copy = static_cast<LPOLESTR>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
        if (copy != nullptr) {
            text.copy(copy, text.size());
            copy[text.size()] = L'\0';
        }
        return copy;
    }
    void release_objects() noexcept { m_objects.clear(); }

    atl::com_ptr<IPropertyPageSite> m_pPageSite;
    std::vector<atl::com_ptr<IUnknown>> m_objects;
    bool m_bDirty = false;
    UINT m_dwTitleID = 0;
    UINT m_dwHelpFileID = 0;
    UINT m_dwDocStringID = 0;
    DWORD m_dwHelpContext = 0;
};

} // namespace ATL
