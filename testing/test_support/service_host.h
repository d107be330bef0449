#pragma once
// The service's discover service and active device list run in a test's own
// process over the camera factories the test gives, and the test's client
// programs reach them from other processes through the proxy/stub library,
// as applications reach the real service.
//
// Every client receives the table-marshalled discover service on its command
// line, which it may unmarshal again when COM's transport failed the first
// try. Marshalling happens right after the proxy/stub library was registered;
// a failure there is reported with its HRESULT and never reaches a client as a
// short command line. A client whose first cross-process step failed in COM's
// transport says so with an exit code of its own; it is started again,
// bounded and printed, once its process is gone, the service has let go of
// its cameras and this process's COM resolves the service's interfaces to the
// registered proxy/stub again, with new marshalling data.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "child_process.h"
#include "com_transport.h"
#include "gen_utils/win32_utils.h"
#include "proxy_stub_registration.h"
#include "service/discover_service.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"

namespace test_support {

// An object table-marshalled for the client processes of one test, as the
// hexadecimal text they read; the marshalling data is released with it.
class marshalled_for_clients {
public:
    marshalled_for_clients() = default;
    marshalled_for_clients(const marshalled_for_clients&) = delete;
    marshalled_for_clients& operator=(const marshalled_for_clients&) = delete;
    ~marshalled_for_clients() { release(); }

    // The HRESULT of the step that failed; the text is empty then.
    HRESULT marshal(IUnknown* object, REFIID iid)
    {
        release();
        if (const HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream_.put()); FAILED(hr)) {
            return hr;
        }
        if (const HRESULT hr =
                CoMarshalInterface(stream_.get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
            FAILED(hr)) {
            stream_.reset();
            return hr;
        }
        HGLOBAL memory = nullptr;
        STATSTG stat{};
        if (const HRESULT hr = GetHGlobalFromStream(stream_.get(), &memory); FAILED(hr)) {
            return hr;
        }
        if (const HRESULT hr = stream_->Stat(&stat, STATFLAG_NONAME); FAILED(hr)) {
            return hr;
        }
        const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
        const wchar_t digits[] = L"0123456789ABCDEF";
        for (ULONGLONG i = 0; i < stat.cbSize.QuadPart; ++i) {
            hex_ += digits[bytes[i] >> 4];
            hex_ += digits[bytes[i] & 15];
        }
        GlobalUnlock(memory);
        return hex_.empty() ? E_UNEXPECTED : S_OK;
    }
    void release()
    {
        if (stream_) {
            const LARGE_INTEGER start{};
            stream_->Seek(start, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(stream_.get());
            stream_.reset();
        }
        hex_.clear();
    }
    const std::wstring& hex() const { return hex_; }

private:
    atl::com_ptr<IStream> stream_;
    std::wstring hex_;
};

// A client program of the tests: its path and the exit codes with which it
// says that COM's transport failed its first cross-process step (for example
// unmarshalling the service), before anything of the code under test ran.
struct client_program {
    std::string exe; // path in the build tree
    std::vector<DWORD> transport_exits;

    bool transport_failed(DWORD code) const
    {
        for (const DWORD exit : transport_exits) {
            if (exit == code) {
                return true;
            }
        }
        return false;
    }
    std::string name() const { return exe.substr(exe.find_last_of('/') + 1); }
};

class service_host {
public:
    using factory_ptr = service::discover_service::factory_ptr;

    // Below HKLM and HKCU: this host's device keys and settings.
    const std::wstring root = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    atl::com_ptr<ICamTovraDiscoverService> discover;

    service_host() = default;
    service_host(const service_host&) = delete;
    service_host& operator=(const service_host&) = delete;
    ~service_host() { stop(); }

    // Initialises COM (multithreaded), starts the discover service over
    // `factories` and waits for its first refresh, installs the active device
    // list and creates the discover object. With a proxy/stub library given,
    // registers it and marshals the discover object for client processes.
    // Run under ASSERT_NO_FATAL_FAILURE.
    void start(std::vector<factory_ptr> factories, std::string_view proxy_stub_dll = {})
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        com_initialised_ = true;

        service::discover_service::options options;
        options.devices_path = root + L"\\devices";
        options.factories = std::move(factories);
        options.rescan_period = std::chrono::seconds(60);
        options.start_pause = std::chrono::milliseconds(0);
        options.sessions.enumerate = [] { return std::vector<service::session_state>{}; };
        options.sessions.active_console_session = [] { return service::no_session; };
        options.on_refreshed = [this] {
            {
                std::lock_guard lock(mutex_);
                ++refreshes_;
            }
            changed_.notify_all();
        };
        auto service = std::make_shared<service::discover_service>(std::move(options));
        service::discover_service_instance().store(service);
        service->start();
        ASSERT_TRUE(wait_refreshed([] { return true; })) << "the discover service never refreshed its list";

        cam_service::active_device_list::options list_options;
        list_options.settings_root = HKEY_CURRENT_USER;
        list_options.settings_path = root;
        list_options.change_source = [] { return service::discover_service_instance().load(); };
        cam_service::active_device_list_instance().store(cam_service::active_device_list::create(list_options));

        atl::com_ptr<IClassFactory> class_object;
        ASSERT_EQ(atl::singleton_class_factory<CDShowDeviceDiscoverService>::create(class_object.put()), S_OK);
        ASSERT_EQ(class_object->CreateInstance(nullptr, IID_ICamTovraDiscoverService, discover.put_void()), S_OK);

        if (!proxy_stub_dll.empty()) {
            ASSERT_NO_FATAL_FAILURE(serve_clients(proxy_stub_dll));
        }
    }

    // Registers the proxy/stub library and marshals the discover object for
    // client processes. Run under ASSERT_NO_FATAL_FAILURE.
    void serve_clients(std::string_view proxy_stub_dll)
    {
        proxy_stub_dll_ = proxy_stub_dll;
        ASSERT_EQ(register_proxy_stub(proxy_stub_dll_), "");
        const HRESULT marshalled = marshal_for_clients();
        ASSERT_EQ(marshalled, S_OK) << "the discover service could not be marshalled for client processes";
    }

    // Ends what start made, in reverse order; safe to call twice.
    void stop()
    {
        marshalled_.release();
        discover.reset();
        if (auto service = service::discover_service_instance().exchange(nullptr)) {
            service->stop();
        }
        cam_service::active_device_list_instance().store(nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
        if (com_initialised_) {
            com_initialised_ = false;
            CoUninitialize();
        }
    }

    // Waits (at most `timeout`) until `condition` holds, checking it now and
    // after every refresh of the device list.
    bool wait_refreshed(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return refreshes_ > 0 && condition(); });
    }
    // Refreshes of the device list finished so far.
    int refreshes()
    {
        std::lock_guard lock(mutex_);
        return refreshes_;
    }
    // Waits (at most `timeout`) until `count` refreshes have finished.
    bool wait_refreshes(int count, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return refreshes_ >= count; });
    }
    // Waits until the camera with `serial` is listed (or, with `listed`
    // false, no longer listed).
    bool wait_listed(const std::wstring& serial, bool listed = true)
    {
        return wait_refreshed([&] {
            const auto service = service::discover_service_instance().load();
            return service && (service->find_device(serial, GUID{}) != nullptr) == listed;
        });
    }

    // Starts `program` with the marshalled discover service and `arguments`
    // and returns once it has ended, signalled `ready` or `timeout_ms` passed.
    // A client that ended saying COM's transport failed its first step is
    // started again, at most `transport_attempts` times in all and within the
    // process's retry budget, once its process is gone and the service has let
    // go of every camera it opened: a new start must not find the camera held.
    child_process start_client(const client_program& program, const std::wstring& arguments, HANDLE ready = nullptr,
                               DWORD timeout_ms = 60000)
    {
        EXPECT_FALSE(marshalled_.hex().empty()) << "start the host with the proxy/stub library first";
        const std::string name = program.name();
        for (int attempt = 1;; ++attempt) {
            const std::wstring command =
                arguments.empty() ? marshalled_.hex() : marshalled_.hex() + L" " + arguments;
            const std::size_t held_before = cameras_held();
            child_process client = start_helper(program.exe, command);
            if (!client) {
                return client;
            }
            const HANDLE waits[2] = {client.process.get(), ready};
            if (WaitForMultipleObjects(ready != nullptr ? 2 : 1, waits, FALSE, timeout_ms) != WAIT_OBJECT_0) {
                return client;
            }
            const DWORD code = client.wait(0);
            if (!program.transport_failed(code)) {
                return client;
            }
            if (attempt == transport_attempts || !take_transport_retry(name.c_str())) {
                ADD_FAILURE() << name << " ended with exit " << code
                              << ": COM's transport failed its first cross-process step in each of " << attempt
                              << " starts";
                return client;
            }
            std::fprintf(stderr, "%s: transport retry %d of %d after exit %lu (its first cross-process step)\n",
                         name.c_str(), attempt, transport_attempts - 1, static_cast<unsigned long>(code));
            std::fflush(stderr);
            // The process has ended (its handle is signalled); the service lets
            // go of its objects when its process tracker sees that.
            if (!wait_cameras_released(held_before)) {
                ADD_FAILURE() << "the service still holds " << cameras_held() << " cameras, " << held_before
                              << " before the ended start of " << name;
                return client;
            }
            // What a new start needs: the registration still in place (a
            // change is someone's write, not the transport's), and
            // marshalling data of its own (as a first start has).
            EXPECT_EQ(proxy_stub_lost(), "");
            if (const HRESULT hr = marshal_for_clients(); FAILED(hr)) {
                ADD_FAILURE() << "the discover service could not be marshalled again: " << std::hex << hr;
                return client;
            }
        }
    }
    // Cameras that clients hold open in the service (the active device list's
    // active entries).
    static std::size_t cameras_held()
    {
        const auto list = cam_service::active_device_list_instance().load();
        return list ? list->active_count() : 0;
    }
    // Waits (at most 10 s) until the service holds at most `count` cameras.
    static bool wait_cameras_released(std::size_t count)
    {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (cameras_held() > count) {
            if (GetTickCount64() > deadline) {
                return false;
            }
            Sleep(5);
        }
        return true;
    }
    // start_client, then the client's exit code (0xFFFFFFFF when it did not
    // start or did not end within the timeout).
    DWORD run_client(const client_program& program, const std::wstring& arguments, DWORD timeout_ms = 60000)
    {
        const child_process client = start_client(program, arguments, nullptr, timeout_ms);
        return client ? client.wait(0) : 0xFFFFFFFF;
    }

private:
    // Marshals the discover object for client processes anew; the HRESULT of
    // the last attempt. Marshalling starts this process's remoting with Wine's
    // RPC service, which under load now and then fails it (E_FAIL) for a
    // moment: tried again with a growing pause (there is no state to see the
    // RPC service recover by), bounded and within the retry budget, each retry
    // printed with its HRESULT. It also looks the interface's stub up in the
    // registry: a registration no longer in place is someone's write, printed
    // with the last writer, and ends the attempts.
    HRESULT marshal_for_clients()
    {
        // Up to about 8 s in all: the RPC service has been seen failing for
        // more than 3 s under a parallel build.
        constexpr int attempts = 12;
        const char* what = "marshalling the discover service for client processes";
        HRESULT hr = E_FAIL;
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            hr = marshalled_.marshal(discover.get(), IID_ICamTovraDiscoverService);
            if (SUCCEEDED(hr)) {
                return hr;
            }
            if (const std::string lost = proxy_stub_lost(); !lost.empty()) {
                std::fprintf(stderr, "%s failed: 0x%08lX (not tried again): %s\n", what,
                             static_cast<unsigned long>(hr), lost.c_str());
                std::fflush(stderr);
                return hr;
            }
            if (attempt == attempts || !take_transport_retry(what)) {
                std::fprintf(stderr, "%s failed: 0x%08lX (attempt %d, not tried again)\n", what,
                             static_cast<unsigned long>(hr), attempt);
                std::fflush(stderr);
                return hr;
            }
            std::fprintf(stderr, "%s: transport retry %d of %d after 0x%08lX\n", what, attempt, attempts - 1,
                         static_cast<unsigned long>(hr));
            std::fflush(stderr);
            Sleep(static_cast<DWORD>(100 * attempt));
        }
        return hr;
    }

    std::string proxy_stub_dll_;
    marshalled_for_clients marshalled_;
    bool com_initialised_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    int refreshes_ = 0; // guarded by mutex_
};

} // namespace test_support
