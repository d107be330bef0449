#include <gtest/gtest.h>

#include <cstdint>

#include "atl/class_factory.h"
#include "atl/com_ptr.h"
#include "gen_utils/log.h"
#include "service/dshow_device_discover_service.h"
#include "service/service_holders.h"

namespace {

class discover_service_object : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        atl::com_ptr<IClassFactory> factory;
        ASSERT_EQ(atl::singleton_class_factory<CDShowDeviceDiscoverService>::create(factory.put()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICamTovraDiscoverService, service_.put_void()), S_OK);
        service_log_level = 0;
    }
    void TearDown() override
    {
        service_.reset();
        CoUninitialize();
    }

    atl::com_ptr<ICamTovraDiscoverService> service_;
};

TEST_F(discover_service_object, one_object_answers_its_interfaces_and_refuses_others)
{
    atl::com_ptr<IClassFactory> factory;
    ASSERT_EQ(atl::singleton_class_factory<CDShowDeviceDiscoverService>::create(factory.put()), S_OK);
    atl::com_ptr<ICamTovraDiscoverService> second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICamTovraDiscoverService, second.put_void()), S_OK);
    EXPECT_EQ(second.get(), service_.get());

    atl::com_ptr<IUnknown> unknown;
    EXPECT_EQ(service_->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    atl::com_ptr<IDispatch> dispatch;
    EXPECT_EQ(service_->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    atl::com_ptr<IUnknown> other;
    EXPECT_EQ(service_->QueryInterface(IID_ICamTovraDevice, other.put_void()), E_NOINTERFACE);
    EXPECT_EQ(other.get(), nullptr);

    atl::com_ptr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(unknown.get(), IID_IUnknown, aggregated.put_void()), CLASS_E_NOAGGREGATION);
}

TEST_F(discover_service_object, process_id_and_log_level_round_trip_through_the_properties)
{
    std::uint64_t process_id = 0;
    ULONG size = 0;
    ASSERT_EQ(service_->GetServiceProperty(26, reinterpret_cast<unsigned char*>(&process_id), 8, &size), S_OK);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(process_id, GetCurrentProcessId());

    unsigned char level[4] = {5, 0, 0, 0};
    ASSERT_EQ(service_->SetServiceProperty(25, level, 4), S_OK);
    std::uint32_t read = 0;
    ASSERT_EQ(service_->GetServiceProperty(25, reinterpret_cast<unsigned char*>(&read), 4, &size), S_OK);
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(service_->SetServiceProperty(25, level, 2), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    service_log_level = 0;
}

TEST_F(discover_service_object, methods_check_pointers_and_answer_e_fail_without_a_discover_service)
{
    ASSERT_FALSE(service::discover_service_instance().load());
    ULONG count = 7;
    DShowDeviceServer_DeviceId device{};
    EXPECT_EQ(service_->GetDiscoveredDeviceList(nullptr, 0, &count), E_POINTER);
    EXPECT_EQ(service_->GetDiscoveredDeviceList(&device, 1, &count), E_FAIL);

    ICamTovraDeviceInfo* info = reinterpret_cast<ICamTovraDeviceInfo*>(&device);
    EXPECT_EQ(service_->GetDeviceInstanceInfo(&device, nullptr), E_POINTER);
    EXPECT_EQ(service_->GetDeviceInstanceInfo(&device, &info), E_FAIL);
    EXPECT_EQ(info, nullptr);

    BSTR name = SysAllocString(L"\\\\.\\mailslot\\camtovra_test");
    EXPECT_EQ(service_->RegisterEventMailslot(1, nullptr), E_POINTER);
    EXPECT_EQ(service_->RegisterEventMailslot(1, name), E_FAIL);
    EXPECT_EQ(service_->RemoveEventMailslot(1, nullptr), E_POINTER);
    EXPECT_EQ(service_->RemoveEventMailslot(1, name), E_FAIL);
    SysFreeString(name);

    IUnknown* created = nullptr;
    EXPECT_EQ(service_->CreateDevice(GetCurrentProcessId(), nullptr, &created), E_POINTER);
    EXPECT_EQ(service_->CreateDevice(GetCurrentProcessId(), &device, nullptr), E_POINTER);
    EXPECT_EQ(service_->CreateDevice(GetCurrentProcessId(), &device, &created), E_FAIL);
    EXPECT_EQ(created, nullptr);

    EXPECT_EQ(service_->AttachDeviceServer(1, nullptr), E_POINTER);
    EXPECT_EQ(service_->AttachDeviceServer(1, service_.get()), E_NOTIMPL);
}

TEST_F(discover_service_object, idispatch_answers_through_the_type_library)
{
    atl::com_ptr<IDispatch> dispatch;
    ASSERT_EQ(service_->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    atl::com_ptr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);

    const struct {
        const wchar_t* name;
        DISPID id;
    } methods[] = {{L"GetDiscoveredDeviceList", 1}, {L"SetServiceProperty", 5}, {L"GetServiceProperty", 6},
                   {L"AttachDeviceServer", 8}};
    for (const auto& method : methods) {
        LPOLESTR name = const_cast<LPOLESTR>(method.name);
        DISPID id = -1;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, method.id);
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMethod");
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

} // namespace
