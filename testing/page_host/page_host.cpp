// camtovra_page_host: shows the property pages of a filter, for screenshots
// and cross-process checks.
//
//   camtovra_page_host --filter (scripted | service) [--dll <path>]
//                      (--frame | --page <{CLSID}> [--capture <file.bmp>] [--layout])
//                      [--close-after <ms>] [--close-event <name>]
//
// --filter service forwards to the camera of the running service (its first
// listed camera, opened for this process); scripted answers from a script.
// --capture writes the page's pixels as a 24-bit BMP once it has been drawn,
// prints the texts of its controls and closes it; --layout only prints them
// (with their places) and closes it. Exit code 3: the page shows
// no item of the filter's camera (SetObjects refused it with E_NOINTERFACE).
// --frame opens every page the filter names in the system's property frame;
// --page activates one page into a top-level window of its own. The window
// closes after the given milliseconds or when the named event is set
// (whichever comes first; without either it stays until closed). The page
// classes come from the DLL's class objects, registered for this process only,
// so nothing is written to the registry. On closing, the frame's tab titles
// (or the page's title) are printed, one per line.

#include "page_host/filter_with_pages.h"
#include "page_host/scripted_camera.h"
#include "test_filter/service_backend.h"
#include "test_filter/test_filter.h"

#include "camtovra_service.h"
#include "com_transport.h"

#include "announce_started.h"
#include "gen_utils/win32_utils.h"

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

const CLSID page_classes[] = {
    {0xb167753e, 0x7ab6, 0x4198, {0x93, 0x7a, 0xd0, 0xc0, 0x17, 0xdc, 0xb4, 0xe7}},
    {0x3ce14b85, 0x7a53, 0x49a0, {0x89, 0xf1, 0x2b, 0x1d, 0x74, 0xeb, 0x35, 0xf6}},
    {0x968ccd0a, 0x7fb3, 0x4717, {0x9e, 0xd8, 0x37, 0x04, 0x35, 0xa2, 0x70, 0xcd}},
    {0x4e523fcd, 0x7780, 0x4aff, {0x97, 0x63, 0x98, 0x71, 0x4a, 0x65, 0x1b, 0x23}},
};

struct options {
    std::wstring filter;
    std::wstring dll = PAGE_HOST_DEFAULT_DLL;
    bool frame = false;
    std::wstring page;
    DWORD close_after = INFINITE;
    std::wstring close_event;
    std::wstring capture;
    bool layout = false;
};

// Exit code of a page that refuses the filter for want of an item to show.
constexpr int no_item_exit = 3;

int fail(const char* what, HRESULT hr = S_OK)
{
    std::fprintf(stderr, "page host: %s (0x%08lx)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

bool parse(int argc, wchar_t** argv, options& out)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--filter" && has_value) {
            out.filter = argv[++i];
        } else if (arg == L"--dll" && has_value) {
            out.dll = argv[++i];
        } else if (arg == L"--frame") {
            out.frame = true;
        } else if (arg == L"--page" && has_value) {
            out.page = argv[++i];
        } else if (arg == L"--close-after" && has_value) {
            out.close_after = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--close-event" && has_value) {
            out.close_event = argv[++i];
        } else if (arg == L"--capture" && has_value) {
            out.capture = argv[++i];
        } else if (arg == L"--layout") {
            out.layout = true;
        } else {
            return false;
        }
    }
    return (out.filter == L"scripted" || out.filter == L"service") && (out.frame != !out.page.empty()) &&
           ((out.capture.empty() && !out.layout) || !out.page.empty());
}

// The class objects of the DLL's pages, registered for this process.
class registered_pages {
public:
    HRESULT load(const std::wstring& dll)
    {
        module_ = LoadLibraryW(dll.c_str());
        if (module_ == nullptr) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        using get_class_object_fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        const auto get = reinterpret_cast<get_class_object_fn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        if (get == nullptr) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        for (const CLSID& page : page_classes) {
            atl::com_ptr<IUnknown> factory;
            HRESULT hr = get(page, IID_IUnknown, factory.put_void());
            DWORD cookie = 0;
            if (SUCCEEDED(hr)) {
                hr = CoRegisterClassObject(page, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            }
            if (FAILED(hr)) {
                return hr;
            }
            cookies_.push_back(cookie);
        }
        return S_OK;
    }
    ~registered_pages()
    {
        for (const DWORD cookie : cookies_) {
            CoRevokeClassObject(cookie);
        }
        // The module stays loaded: pages' windows may still be on their way out.
    }

private:
    HMODULE module_ = nullptr;
    std::vector<DWORD> cookies_;
};

struct closer {
    DWORD thread = GetCurrentThreadId();
    win32::unique_handle event;
    // The timer and the event's watcher may both fire: only the first closes.
    std::atomic<bool> closed{false};
    // Written by whichever closes; read after the windows are gone.
    std::vector<std::wstring> titles;
};
closer* active_closer = nullptr;

BOOL CALLBACK collect_tabs(HWND window, LPARAM)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, WC_TABCONTROLW) != 0) {
        return TRUE;
    }
    const auto count = SendMessageW(window, TCM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 128;
        SendMessageW(window, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        active_closer->titles.emplace_back(text);
    }
    return TRUE;
}

BOOL CALLBACK close_top_level(HWND window, LPARAM)
{
    if (GetParent(window) == nullptr && IsWindowVisible(window)) {
        EnumChildWindows(window, &collect_tabs, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

void close_windows()
{
    if (!active_closer->closed.exchange(true)) {
        EnumThreadWindows(active_closer->thread, &close_top_level, 0);
    }
}

void CALLBACK close_now(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    close_windows();
}

// Starts the timer (and the event's watcher) that close this thread's windows.
std::thread arm_closer(const options& opts, closer& state)
{
    active_closer = &state;
    if (opts.close_after != INFINITE) {
        SetTimer(nullptr, 0, opts.close_after, &close_now);
    }
    if (opts.close_event.empty()) {
        return {};
    }
    state.event.reset(CreateEventW(nullptr, TRUE, FALSE, opts.close_event.c_str()));
    return std::thread([&state] {
        // The windows' thread is in its message loop: the messages this
        // sends and posts reach it there.
        if (state.event != nullptr && WaitForSingleObject(state.event.get(), INFINITE) == WAIT_OBJECT_0) {
            close_windows();
        }
    });
}

LRESULT CALLBACK host_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

int show_frame(IUnknown* filter, const options& opts, closer& state)
{
    atl::com_ptr<ISpecifyPropertyPages> specify;
    HRESULT hr = filter->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void());
    CAUUID pages{};
    if (SUCCEEDED(hr)) {
        hr = specify->GetPages(&pages);
    }
    if (FAILED(hr)) {
        return fail("the filter names no pages", hr);
    }
    std::thread watcher = arm_closer(opts, state);
    hr = OleCreatePropertyFrame(nullptr, 0, 0, L"CamTovra", 1, &filter, pages.cElems, pages.pElems, 0, 0, nullptr);
    CoTaskMemFree(pages.pElems);
    if (state.event != nullptr) {
        SetEvent(state.event.get());
    }
    if (watcher.joinable()) {
        watcher.join();
    }
    return FAILED(hr) ? fail("OleCreatePropertyFrame failed", hr) : 0;
}

// The client area of `window` (`size` pixels) as a bottom-up 24-bit BMP.
int capture_client(HWND window, SIZE size, const std::wstring& path)
{
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size.cx;
    format.bmiHeader.biHeight = size.cy;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = bitmap != nullptr ? SelectObject(memory, bitmap) : nullptr;
    const bool copied = bitmap != nullptr && BitBlt(memory, 0, 0, size.cx, size.cy, screen, 0, 0, SRCCOPY);
    GdiFlush();
    int result = 0;
    if (!copied) {
        result = fail("the page's pixels could not be copied", HRESULT_FROM_WIN32(GetLastError()));
    } else {
        const DWORD row = (static_cast<DWORD>(size.cx) * 3 + 3) & ~3u;
        const DWORD image = row * static_cast<DWORD>(size.cy);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(format.bmiHeader);
        file.bfSize = file.bfOffBits + image;
        FILE* out = _wfopen(path.c_str(), L"wb");
        const bool written = out != nullptr && std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                             std::fwrite(&format.bmiHeader, sizeof(format.bmiHeader), 1, out) == 1 &&
                             std::fwrite(bits, image, 1, out) == 1;
        if (out != nullptr && std::fclose(out) != 0) {
            result = fail("writing the capture failed");
        }
        if (!written) {
            result = fail("writing the capture failed");
        }
    }
    if (old != nullptr) {
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return result;
}

// One line per control of the page: its class, its text as the page shows it
// and its place in the page (left, top, right, bottom).
void print_controls(HWND host)
{
    const HWND page = GetWindow(host, GW_CHILD);
    for (HWND control = page != nullptr ? GetWindow(page, GW_CHILD) : nullptr; control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        wchar_t text[128] = {};
        GetClassNameW(control, name, 64);
        GetWindowTextW(control, text, 128);
        RECT place{};
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&place), 2);
        std::printf("control\t%ls\t%ls\t%ld\t%ld\t%ld\t%ld\n", name, text, static_cast<long>(place.left),
                    static_cast<long>(place.top), static_cast<long>(place.right), static_cast<long>(place.bottom));
    }
}

int show_page(IUnknown* filter, const options& opts, closer& state)
{
    CLSID clsid{};
    if (FAILED(CLSIDFromString(opts.page.c_str(), &clsid))) {
        return fail("not a CLSID");
    }
    atl::com_ptr<IPropertyPage> page;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.put_void());
    if (SUCCEEDED(hr)) {
        hr = page->SetObjects(1, &filter);
    }
    PROPPAGEINFO info{};
    info.cb = sizeof(info);
    if (SUCCEEDED(hr)) {
        hr = page->GetPageInfo(&info);
    }
    if (hr == E_NOINTERFACE) {
        // The camera has no item that this page shows. (Wine's property
        // frame still gives such a page its tab, empty.)
        std::fprintf(stderr, "page host: the page shows no item of this camera\n");
        return no_item_exit;
    }
    if (FAILED(hr)) {
        return fail("the page did not take the filter", hr);
    }
    state.titles.emplace_back(info.pszTitle != nullptr ? info.pszTitle : L"");
    CoTaskMemFree(info.pszTitle);

    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &host_window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = L"camtovra_page_host";
    RegisterClassW(&window_class);
    RECT frame{0, 0, info.size.cx, info.size.cy};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowW(L"camtovra_page_host", state.titles.back().c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        return fail("no window", HRESULT_FROM_WIN32(GetLastError()));
    }
    const RECT client{0, 0, info.size.cx, info.size.cy};
    page->Activate(window, &client, FALSE);
    page->Show(SW_SHOW);
    if (!opts.capture.empty() || opts.layout) {
        UpdateWindow(window);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        const int captured = opts.capture.empty() ? 0 : capture_client(window, info.size, opts.capture);
        std::printf("size\t%ld\t%ld\n", static_cast<long>(info.size.cx), static_cast<long>(info.size.cy));
        print_controls(window);
        DestroyWindow(window);
        page->Deactivate();
        return captured;
    }

    std::thread watcher = arm_closer(opts, state);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (page->TranslateAccelerator(&message) != S_OK) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    page->Deactivate();
    if (state.event != nullptr) {
        SetEvent(state.event.get());
    }
    if (watcher.joinable()) {
        watcher.join();
    }
    return 0;
}

// A filter over the first camera of the running service, as an
// application's capture filter reaches it.
HRESULT open_service_filter(atl::com_ptr<IUnknown>& filter)
{
    atl::com_ptr<ICamTovraDiscoverService> service;
    HRESULT hr = test_support::retry_transport(
        "CoCreateInstance(CamTovraDiscoverService)", test_support::transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
            service.reset();
            return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_ICamTovraDiscoverService, service.put_void());
        });
    std::shared_ptr<test_filter::service_backend> backend;
    if (SUCCEEDED(hr)) {
        hr = test_filter::service_backend::open(service.get(), "", backend);
    }
    if (FAILED(hr)) {
        return hr;
    }
    auto made = test_filter::test_filter::create(backend);
    filter = atl::com_ptr<IUnknown>(made->as_property_set());
    filter->AddRef();
    return S_OK;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    test_support::announce_started();
    options opts;
    if (!parse(argc, argv, opts)) {
        std::fprintf(stderr, "usage: camtovra_page_host --filter (scripted | service) [--dll <path>] (--frame | "
                             "--page <{CLSID}> [--capture <file.bmp>] [--layout]) [--close-after <ms>] "
                             "[--close-event <name>]\n");
        return 2;
    }
    if (FAILED(OleInitialize(nullptr))) {
        return fail("OleInitialize failed");
    }
    int result = 0;
    {
        registered_pages classes;
        if (const HRESULT hr = classes.load(opts.dll); FAILED(hr)) {
            result = fail("cannot load the page classes", hr);
        } else {
            page_host::scripted_camera camera;
            atl::com_ptr<IUnknown> inner;
            HRESULT opened = S_OK;
            if (opts.filter == L"service") {
                opened = open_service_filter(inner);
            } else {
                auto scripted = camera.make_filter();
                inner = atl::com_ptr<IUnknown>(scripted.get());
                inner->AddRef();
            }
            if (FAILED(opened)) {
                result = fail("the service's camera could not be opened", opened);
            } else {
                auto filter = page_host::filter_with_pages::create(std::move(inner),
                                                                   {std::begin(page_classes), std::end(page_classes)});
                IUnknown* object = filter.get();
                closer state;
                result = opts.frame ? show_frame(object, opts, state) : show_page(object, opts, state);
                for (const std::wstring& title : state.titles) {
                    std::printf("%ls\n", title.c_str());
                }
            }
        }
    }
    OleUninitialize();
    return result;
}
