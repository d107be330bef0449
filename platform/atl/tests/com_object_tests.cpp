#include <gtest/gtest.h>

#include "atl/com_object.h"
#include "atl/com_ptr.h"

namespace {

int destroyed = 0;

class two_interfaces : public atl::com_object<IPersist, IClassFactory> {
public:
    ~two_interfaces() override { ++destroyed; }
    STDMETHODIMP GetClassID(CLSID* id) override
    {
        *id = IID_IPersist;
        return S_OK;
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

TEST(com_object, queries_each_interface_shares_one_identity_and_dies_with_its_last_reference)
{
    destroyed = 0;
    atl::com_ptr<IPersist> persist;
    ASSERT_EQ(atl::heap_object<two_interfaces>::create(IID_IPersist, persist.put_void()), S_OK);
    atl::com_ptr<IClassFactory> factory;
    ASSERT_EQ(persist->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    atl::com_ptr<IUnknown> a;
    atl::com_ptr<IUnknown> b;
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, a.put_void()), S_OK);
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, b.put_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());

    atl::com_ptr<IUnknown> none;
    EXPECT_EQ(persist->QueryInterface(IID_IDispatch, none.put_void()), E_NOINTERFACE);
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_EQ(persist->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    persist.reset();
    factory.reset();
    a.reset();
    EXPECT_EQ(destroyed, 0);
    b.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(com_object, a_failed_creation_query_destroys_the_new_object)
{
    destroyed = 0;
    atl::com_ptr<IUnknown> none;
    EXPECT_EQ(atl::heap_object<two_interfaces>::create(IID_IDispatch, none.put_void()), E_NOINTERFACE);
    EXPECT_EQ(destroyed, 1);
}

} // namespace
