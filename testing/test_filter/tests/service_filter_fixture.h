#pragma once
// The demonstration service under the service control manager and two test
// filters over two device handles of its camera, as an application's capture
// filter carries the property pages' requests across processes: what goes
// through one is read back through the other.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "camtovra_service.h"
#include "com_transport.h"
#include "propertypage/vcd_item_tables.h"
#include "service_test_support.h"
#include "test_filter/service_backend.h"
#include "test_filter/test_filter.h"

namespace service_filter_test {

using namespace VCDAdapterHelper;
using test_filter::service_backend;

inline std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class service_filter_fixture : public ::testing::Test {
protected:
    atl::com_ptr<ICamTovraDiscoverService> service;
    // The filter the items use, and a second handle of the same camera.
    atl::com_ptr<test_filter::test_filter> filter;
    atl::com_ptr<test_filter::test_filter> second;
    // Set before SetUp for a test thread that shows windows (single-threaded
    // apartment with OLE) instead of a multithreaded one.
    bool ole_thread = false;

    void SetUp() override
    {
        ASSERT_TRUE(service_test::stop_service()) << "the service left running before would not end";
        service_test::remove_all_registration();
        ASSERT_EQ(service_test::run_service_exe(L"-Service"), 0u);
        ASSERT_EQ(service_test::register_proxy_stub(), 0u);
        ASSERT_EQ(service_test::start_service(), 0u);
        ASSERT_TRUE(service_test::wait_for_state(SERVICE_RUNNING));
        ASSERT_TRUE(SUCCEEDED(ole_thread ? OleInitialize(nullptr) : CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        com_initialised_ = true;
        ASSERT_EQ(test_support::retry_transport("CoCreateInstance(CamTovraDiscoverService)",
                                                test_support::transport_step::activation, &IID_ICamTovraDiscoverService,
                                                [&] {
                                                    service.reset();
                                                    return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr,
                                                                            CLSCTX_LOCAL_SERVER,
                                                                            IID_ICamTovraDiscoverService,
                                                                            service.put_void());
                                                }),
                  S_OK);
        ASSERT_NO_FATAL_FAILURE(filter = open_filter());
        ASSERT_NO_FATAL_FAILURE(second = open_filter());
        ASSERT_TRUE(filter && second) << "no filter over the service's camera";
    }
    void TearDown() override
    {
        filter.reset();
        second.reset();
        service.reset();
        EXPECT_TRUE(service_test::stop_service()) << "the service would not end";
        service_test::remove_all_registration();
        if (com_initialised_) {
            ole_thread ? OleUninitialize() : CoUninitialize();
        }
    }

    // A filter over a new device handle of the service's camera, once the
    // service lists it (its first scan may still be running).
    atl::com_ptr<test_filter::test_filter> open_filter()
    {
        std::shared_ptr<service_backend> backend;
        HRESULT hr = service_backend::open(service.get(), "", backend);
        for (const ULONGLONG deadline = GetTickCount64() + 10000;
             hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) && GetTickCount64() < deadline;) {
            Sleep(50); // polls the list: the service announces its first scan to no one
            hr = service_backend::open(service.get(), "", backend);
        }
        EXPECT_EQ(hr, S_OK);
        return backend ? test_filter::test_filter::create(backend) : atl::com_ptr<test_filter::test_filter>();
    }

    static IKsPropertySet* ks(const atl::com_ptr<test_filter::test_filter>& f) { return f->as_property_set(); }
    template <class Interface>
    static atl::com_ptr<Interface> face(const atl::com_ptr<test_filter::test_filter>& f)
    {
        atl::com_ptr<Interface> out;
        EXPECT_EQ(f->QueryInterface(__uuidof(Interface), out.put_void()), S_OK);
        return out;
    }
    static const item_descriptor& builtin(const wchar_t* name)
    {
        for (const item_descriptor& d : builtin_item_descriptors()) {
            if (d.item_name == name) {
                return d;
            }
        }
        throw std::logic_error("no built-in item " + narrow(name));
    }
    static item_data_ptr create(const item_descriptor& d, IKsPropertySet* over) { return d.create(over, d); }

private:
    bool com_initialised_ = false;
};

} // namespace service_filter_test
