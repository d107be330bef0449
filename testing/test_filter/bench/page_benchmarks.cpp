// The property pages over the demonstration service, across processes, as an
// application's property frame drives them: a page opening (SetObjects and
// Activate) and one slider change with the refresh of every control that it
// sets off. Every request of the page goes through a counting backend in
// front of the device handle, so beside the time each case reports how many
// requests it made; a plain Get of the device information through the same
// filter, timed in the same iterations, is the baseline that the ratios
// divide by, so they hold on a busy machine where the milliseconds do not.
//
// Counters per iteration: ms (the measured part), requests and per kind,
// base_ms (one baseline request), x_base (ms over base_ms: the case's cost
// in plain requests) and x_base_per_request (the cost of one of its requests
// against the plain one). --request_breakdown prints, after the run, the
// requests of one opening of each page and of one slider change by property.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ocidl.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <string>
#include <string_view>

#include "camtovra_service.h"
#include "com_transport.h"
#include "propertypage/class_factory.h"
#include "propertypage/page_templates.h"
#include "service_test_support.h"
#include "test_filter/bench/counting_backend.h"
#include "test_filter/service_backend.h"
#include "test_filter/test_filter.h"

namespace {

using clock_type = std::chrono::steady_clock;
using page_bench::counting_backend;
using page_bench::request_counts;

constexpr std::array<const char*, 4> page_names = {"exposure", "feature", "lens", "colour"};
constexpr DWORD device_info_size = 144;
// Baseline requests per iteration: enough to average one request's jitter.
constexpr int baseline_batch = 8;
constexpr RECT page_rect{0, 0, 760, 660};

// Runs what the messages posted so far set off (refresh_controls among them).
void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The service registered and running, its camera behind a counting filter,
// and a window to hold the pages; everything undone in reverse order.
class page_environment {
public:
    atl::com_ptr<ICamTovraDiscoverService> service;
    std::shared_ptr<counting_backend> counter;
    atl::com_ptr<test_filter::test_filter> filter;
    HWND parent = nullptr;

    page_environment() = default;
    page_environment(const page_environment&) = delete;
    page_environment& operator=(const page_environment&) = delete;
    ~page_environment()
    {
        if (parent != nullptr) {
            DestroyWindow(parent);
        }
        pump();
        filter.reset();
        counter.reset();
        service.reset();
        if (registered_) {
            service_test::stop_service();
            service_test::remove_all_registration();
        }
        if (ole_initialised_) {
            OleUninitialize();
        }
    }

    // Empty when ready, otherwise the step that failed.
    std::string set_up()
    {
        registered_ = true;
        service_test::stop_service();
        service_test::remove_all_registration();
        if (const DWORD code = service_test::run_service_exe(L"-Service"); code != 0) {
            return "registering the service: exit code " + std::to_string(code);
        }
        if (const DWORD code = service_test::register_proxy_stub(); code != 0) {
            return "registering the proxy/stub library: exit code " + std::to_string(code);
        }
        if (const DWORD error = service_test::start_service(); error != 0) {
            return "starting the service: error " + std::to_string(error);
        }
        if (!service_test::wait_for_state(SERVICE_RUNNING)) {
            return "the service did not reach the running state";
        }
        if (FAILED(OleInitialize(nullptr))) {
            return "OleInitialize";
        }
        ole_initialised_ = true;
        const HRESULT created = test_support::retry_transport(
            "CoCreateInstance(CamTovraDiscoverService)", test_support::transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
                service.reset();
                return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_ICamTovraDiscoverService, service.put_void());
            });
        if (FAILED(created)) {
            return "creating the discover object";
        }
        std::shared_ptr<test_filter::service_backend> backend;
        HRESULT opened = test_filter::service_backend::open(service.get(), "", backend);
        for (const ULONGLONG deadline = GetTickCount64() + 10000;
             opened == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) && GetTickCount64() < deadline;) {
            Sleep(50); // polls the list: the service announces its first scan to no one
            opened = test_filter::service_backend::open(service.get(), "", backend);
        }
        if (FAILED(opened) || !backend) {
            return "opening the camera";
        }
        counter = std::make_shared<counting_backend>(backend);
        filter = test_filter::test_filter::create(counter);

        WNDCLASSW host{};
        host.lpfnWndProc = &DefWindowProcW;
        host.hInstance = GetModuleHandleW(nullptr);
        host.lpszClassName = L"page_benchmark_host";
        RegisterClassW(&host);
        parent = CreateWindowW(host.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 700, nullptr, nullptr,
                               host.hInstance, nullptr);
        return parent != nullptr ? std::string() : "creating the host window";
    }

    // One plain request through the same filter and device handle.
    bool baseline_request()
    {
        unsigned char block[device_info_size] = {};
        DWORD returned = 0;
        return filter->Get(cam::PROPSETID_DRIVER_INFO_REQ, 0, block, sizeof(block), block, sizeof(block),
                           &returned) == S_OK &&
               returned == device_info_size;
    }

private:
    bool registered_ = false;
    bool ole_initialised_ = false;
};

page_environment* environment = nullptr;
// A case that could not measure fails the run, so the smoke test sees it.
bool any_failed = false;

void fail(benchmark::State& state, const char* why)
{
    any_failed = true;
    state.SkipWithError(why);
}

atl::com_ptr<IPropertyPage> make_page(std::size_t index)
{
    // The factory starts without references; the pointer takes the first.
    atl::com_ptr<IClassFactory> factory(
        new camtovra_propertypage::CClassFactory(camtovra_propertypage::page_templates()[index]));
    factory->AddRef();
    atl::com_ptr<IPropertyPage> made;
    if (FAILED(factory->CreateInstance(nullptr, IID_IPropertyPage, made.put_void()))) {
        made.reset();
    }
    return made;
}

// SetObjects, then Activate when the page took the camera. A page that has
// nothing to show for the camera answers E_NOINTERFACE, as a property frame
// expects of a page it then leaves out.
HRESULT open_page(IPropertyPage& page)
{
    IUnknown* object = environment->filter->as_property_set();
    HRESULT hr = page.SetObjects(1, &object);
    if (SUCCEEDED(hr)) {
        hr = page.Activate(environment->parent, &page_rect, FALSE);
    }
    return hr;
}

std::string hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

void close_page(atl::com_ptr<IPropertyPage>& page)
{
    page->Deactivate();
    page->SetObjects(0, nullptr);
    page.reset();
    pump();
}

// Times baseline_batch plain requests; false when one did not answer whole.
bool time_baseline(double& seconds)
{
    const auto start = clock_type::now();
    for (int i = 0; i < baseline_batch; ++i) {
        if (!environment->baseline_request()) {
            return false;
        }
    }
    seconds += seconds_since(start);
    return true;
}

void report(benchmark::State& state, double seconds, double baseline_seconds, const request_counts& requests)
{
    const auto iterations = static_cast<double>(state.iterations());
    if (iterations == 0) {
        return;
    }
    const double ms = seconds * 1e3 / iterations;
    const double base_ms = baseline_seconds * 1e3 / (iterations * baseline_batch);
    const double per_iteration = static_cast<double>(requests.total()) / iterations;
    state.counters["ms"] = ms;
    state.counters["requests"] = per_iteration;
    state.counters["base_ms"] = base_ms;
    state.counters["x_base"] = base_ms > 0 ? ms / base_ms : 0.0;
    state.counters["x_base_per_request"] = base_ms > 0 && per_iteration > 0 ? ms / per_iteration / base_ms : 0.0;
    for (std::size_t i = 0; i < page_bench::request_kind_count; ++i) {
        if (requests.by_kind[i] != 0) {
            state.counters[page_bench::name_of(static_cast<page_bench::request_kind>(i))] =
                static_cast<double>(requests.by_kind[i]) / iterations;
        }
    }
}

// SetObjects and Activate of a new page of the class at `index`; creating
// the page before and closing it after are not measured. A page that
// declines the camera costs its SetObjects alone (counter shown 0).
void page_open(benchmark::State& state, std::size_t index)
{
    double seconds = 0, baseline_seconds = 0;
    request_counts requests, posted;
    bool shown = false;
    for (auto _ : state) {
        atl::com_ptr<IPropertyPage> page = make_page(index);
        if (!page) {
            fail(state, "the class factory made no page");
            return;
        }
        const request_counts before = environment->counter->counts();
        const auto start = clock_type::now();
        const HRESULT hr = open_page(*page.get());
        const double took = seconds_since(start);
        const request_counts after = environment->counter->counts();
        if (FAILED(hr) && hr != E_NOINTERFACE) {
            fail(state, ("SetObjects or Activate failed: " + hex(hr)).c_str());
            return;
        }
        shown = hr != E_NOINTERFACE;
        state.SetIterationTime(took);
        seconds += took;
        requests += after - before;
        pump(); // what the opening posted to itself, counted apart
        posted += environment->counter->counts() - after;
        close_page(page);
        if (!time_baseline(baseline_seconds)) {
            fail(state, "the baseline request did not answer the whole device information");
            return;
        }
    }
    report(state, seconds, baseline_seconds, requests);
    if (state.iterations() > 0) {
        state.counters["posted_requests"] = static_cast<double>(posted.total()) / static_cast<double>(state.iterations());
        state.counters["shown"] = shown ? 1 : 0;
    }
}

bool ends_with_nocase(std::wstring_view text, std::wstring_view suffix)
{
    if (text.size() < suffix.size()) {
        return false;
    }
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

HWND first_trackbar(HWND page_window)
{
    for (HWND window = GetWindow(page_window, GW_CHILD); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (ends_with_nocase(name, L"trackbar32")) {
            return window;
        }
    }
    return nullptr;
}

// The user's thumb moved to `position` on `trackbar`, the change written and
// every control of the page read again.
void change_slider(HWND page_window, HWND trackbar, LRESULT position)
{
    SendMessageW(page_window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, static_cast<WORD>(position)),
                 reinterpret_cast<LPARAM>(trackbar));
    pump();
}

// The exposure page open; its first slider moved between two positions, one
// change per iteration; measured from WM_HSCROLL to the end of the refresh.
void slider_change(benchmark::State& state)
{
    atl::com_ptr<IPropertyPage> page = make_page(0);
    if (!page || FAILED(open_page(*page.get()))) {
        fail(state, "the exposure page did not open");
        return;
    }
    pump();
    const HWND page_window = GetWindow(environment->parent, GW_CHILD);
    const HWND trackbar = page_window != nullptr ? first_trackbar(page_window) : nullptr;
    if (trackbar == nullptr) {
        close_page(page);
        fail(state, "the exposure page shows no slider");
        return;
    }
    const LRESULT low = SendMessageW(trackbar, TBM_GETRANGEMIN, 0, 0);
    const LRESULT high = SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0);
    const std::array<LRESULT, 2> positions = {low + (high - low) / 4, low + (high - low) * 3 / 4};
    if (positions[0] == positions[1]) {
        close_page(page);
        fail(state, "the slider's range has no two positions");
        return;
    }
    double seconds = 0, baseline_seconds = 0;
    request_counts requests;
    std::int64_t missed = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const LRESULT position = positions[next];
        next = 1 - next;
        SendMessageW(trackbar, TBM_SETPOS, TRUE, position); // the thumb where the user left it
        const request_counts before = environment->counter->counts();
        const auto start = clock_type::now();
        change_slider(page_window, trackbar, position);
        const double took = seconds_since(start);
        requests += environment->counter->counts() - before;
        state.SetIterationTime(took);
        seconds += took;
        // The refresh read the value back from the camera: the thumb stays.
        missed += SendMessageW(trackbar, TBM_GETPOS, 0, 0) != position ? 1 : 0;
        if (!time_baseline(baseline_seconds)) {
            fail(state, "the baseline request did not answer the whole device information");
            break;
        }
    }
    close_page(page);
    report(state, seconds, baseline_seconds, requests);
    state.counters["readback_misses"] = static_cast<double>(missed);
}

const char* set_name(const GUID& set)
{
    for (const cam::named_property_set& known : cam::known_property_sets()) {
        if (cam::same_guid(known.guid, set)) {
            return known.name;
        }
    }
    return "?";
}

void print_recorded(const char* what)
{
    const auto recorded = environment->counter->stop_recording();
    std::uint64_t total = 0;
    for (const auto& entry : recorded) {
        total += entry.second;
    }
    std::printf("%s: %llu requests\n", what, static_cast<unsigned long long>(total));
    for (const auto& [key, count] : recorded) {
        std::printf("  %-10s %-36s %4lu  x%llu\n", page_bench::name_of(key.first), set_name(key.second.property_set),
                    static_cast<unsigned long>(key.second.property_id), static_cast<unsigned long long>(count));
    }
}

// One opening of each page and one slider change, by property.
void print_breakdown()
{
    for (std::size_t index = 0; index < page_names.size(); ++index) {
        atl::com_ptr<IPropertyPage> page = make_page(index);
        if (!page) {
            continue;
        }
        environment->counter->start_recording();
        const HRESULT hr = open_page(*page.get());
        print_recorded((std::string("open ") + page_names[index] + (SUCCEEDED(hr) ? "" : " (answered " + hex(hr) + ")")).c_str());
        environment->counter->start_recording();
        pump();
        print_recorded((std::string("posted by opening ") + page_names[index]).c_str());
        if (index == 0 && SUCCEEDED(hr)) {
            const HWND page_window = GetWindow(environment->parent, GW_CHILD);
            const HWND trackbar = page_window != nullptr ? first_trackbar(page_window) : nullptr;
            if (trackbar != nullptr) {
                const LRESULT low = SendMessageW(trackbar, TBM_GETRANGEMIN, 0, 0);
                const LRESULT high = SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0);
                const LRESULT position = low + (high - low) / 2;
                SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
                environment->counter->start_recording();
                change_slider(page_window, trackbar, position);
                print_recorded("slider change on exposure");
            }
        }
        close_page(page);
    }
}

// Removes `flag` from the arguments; true when it was there.
bool take_flag(int& argc, char** argv, std::string_view flag)
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == flag) {
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const bool breakdown = take_flag(argc, argv, "--request_breakdown");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    page_environment env;
    if (const std::string failed = env.set_up(); !failed.empty()) {
        std::fprintf(stderr, "set-up failed: %s\n", failed.c_str());
        return 1;
    }
    environment = &env;
    for (std::size_t index = 0; index < page_names.size(); ++index) {
        benchmark::RegisterBenchmark((std::string("page_open/") + page_names[index]).c_str(),
                                     [index](benchmark::State& state) { page_open(state, index); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("slider_change/exposure", slider_change)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    if (breakdown) {
        print_breakdown();
    }
    benchmark::Shutdown();
    environment = nullptr;
    return any_failed ? 1 : 0;
}
