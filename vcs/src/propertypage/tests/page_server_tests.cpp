// The COM server as an application loads it: its class objects, aggregation,
// when it may unload, and the pages' IPropertyPage answers that need no filter.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include "atl/com_ptr.h"

#include <atomic>

namespace {

const CLSID page_classes[] = {
    {0xb167753e, 0x7ab6, 0x4198, {0x93, 0x7a, 0xd0, 0xc0, 0x17, 0xdc, 0xb4, 0xe7}},
    {0x3ce14b85, 0x7a53, 0x49a0, {0x89, 0xf1, 0x2b, 0x1d, 0x74, 0xeb, 0x35, 0xf6}},
    {0x968ccd0a, 0x7fb3, 0x4717, {0x9e, 0xd8, 0x37, 0x04, 0x35, 0xa2, 0x70, 0xcd}},
    {0x4e523fcd, 0x7780, 0x4aff, {0x97, 0x63, 0x98, 0x71, 0x4a, 0x65, 0x1b, 0x23}},
};
const wchar_t* const page_titles[] = {L"CamTovra Exposure Controls", L"CamTovra Feature Controls",
                                      L"CamTovra Lens Controls", L"CamTovra Color Controls"};

class page_server : public ::testing::Test {
protected:
    using get_class_object_fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using can_unload_fn = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        module_ = LoadLibraryW(PAGE_DLL);
        ASSERT_NE(module_, nullptr) << GetLastError();
        get_class_object = reinterpret_cast<get_class_object_fn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        can_unload = reinterpret_cast<can_unload_fn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(get_class_object, nullptr);
        ASSERT_NE(can_unload, nullptr);
    }
    void TearDown() override
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
        CoUninitialize();
    }

    atl::com_ptr<IClassFactory> factory(const CLSID& clsid)
    {
        atl::com_ptr<IClassFactory> made;
        EXPECT_EQ(get_class_object(clsid, IID_IClassFactory, made.put_void()), S_OK);
        return made;
    }

    HMODULE module_ = nullptr;
    get_class_object_fn get_class_object = nullptr;
    can_unload_fn can_unload = nullptr;
};

// An aggregating object that only counts the references its inner object
// passes on to it.
struct counting_outer final : IUnknown {
    std::atomic<LONG> references{1};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
};

TEST_F(page_server, each_page_class_has_a_factory_and_no_other_class_or_interface_does)
{
    for (const CLSID& clsid : page_classes) {
        atl::com_ptr<IUnknown> unknown;
        EXPECT_EQ(get_class_object(clsid, IID_IUnknown, unknown.put_void()), S_OK);
        atl::com_ptr<IClassFactory> made = factory(clsid);
        ASSERT_TRUE(made);
        atl::com_ptr<IPropertyPage> page;
        EXPECT_EQ(made->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()), S_OK);
        EXPECT_TRUE(page);
    }
    const CLSID unknown_class = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = &object;
    EXPECT_EQ(get_class_object(unknown_class, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(get_class_object(page_classes[0], IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(get_class_object(unknown_class, IID_IPropertyPage, &object), E_NOINTERFACE);

    atl::com_ptr<IClassFactory> made = factory(page_classes[0]);
    atl::com_ptr<IUnknown> self;
    EXPECT_EQ(made->QueryInterface(IID_IPropertyPage, self.put_void()), E_NOINTERFACE);
    EXPECT_EQ(made->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    atl::com_ptr<IDispatch> not_a_page;
    EXPECT_EQ(made->CreateInstance(nullptr, IID_IDispatch, not_a_page.put_void()), E_NOINTERFACE);
}

TEST_F(page_server, aggregation_gives_only_the_inner_unknown_whose_page_counts_on_the_outer)
{
    counting_outer outer;
    {
        atl::com_ptr<IClassFactory> made = factory(page_classes[1]);
        void* object = &object;
        EXPECT_EQ(made->CreateInstance(&outer, IID_IPropertyPage, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(can_unload(), S_OK) << "a refused aggregation leaves no object behind";

    atl::com_ptr<IUnknown> inner;
    ASSERT_EQ(factory(page_classes[1])->CreateInstance(&outer, IID_IUnknown, inner.put_void()), S_OK);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(&page)), S_OK);
    EXPECT_EQ(outer.references.load(), 2) << "the page face's reference belongs to the outer object";
    page->Release();
    EXPECT_EQ(outer.references.load(), 1);
    inner.reset();
    EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(page_server, the_module_stays_while_a_factory_a_page_or_a_lock_lives)
{
    EXPECT_EQ(can_unload(), S_OK);
    atl::com_ptr<IClassFactory> made = factory(page_classes[2]);
    EXPECT_EQ(can_unload(), S_FALSE);
    atl::com_ptr<IPropertyPage> page;
    ASSERT_EQ(made->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()), S_OK);
    made.reset();
    EXPECT_EQ(can_unload(), S_FALSE) << "a page outlives its factory";
    page.reset();
    EXPECT_EQ(can_unload(), S_OK);

    made = factory(page_classes[2]);
    EXPECT_EQ(made->LockServer(TRUE), S_OK);
    made.reset();
    EXPECT_EQ(can_unload(), S_FALSE) << "locked";
    made = factory(page_classes[2]);
    EXPECT_EQ(made->LockServer(FALSE), S_OK);
    made.reset();
    EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(page_server, an_inactive_page_answers_its_info_and_refuses_what_needs_a_window)
{
    for (std::size_t i = 0; i < 4; ++i) {
        atl::com_ptr<IPropertyPage> page;
        ASSERT_EQ(factory(page_classes[i])->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()), S_OK);
        PROPPAGEINFO info{};
        ASSERT_EQ(page->GetPageInfo(&info), S_OK);
        EXPECT_STREQ(info.pszTitle, page_titles[i]);
        EXPECT_GT(info.size.cx, 285) << "dialog units of an 8-point font are wider than a pixel";
        EXPECT_GT(info.size.cy, 281);
        EXPECT_EQ(info.pszHelpFile, nullptr);
        CoTaskMemFree(info.pszTitle);
        EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);

        EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
        const RECT rect{0, 0, 10, 10};
        EXPECT_EQ(page->Move(&rect), E_UNEXPECTED);
        EXPECT_EQ(page->IsPageDirty(), S_FALSE);
        EXPECT_EQ(page->Apply(), S_OK);
        EXPECT_EQ(page->Help(L"C:\\"), E_OUTOFMEMORY) << "the pages have no help file";
        MSG message{};
        message.message = WM_TIMER;
        EXPECT_EQ(page->TranslateAccelerator(&message), S_FALSE);
        EXPECT_EQ(page->SetObjects(0, nullptr), E_POINTER);
        IUnknown* none = nullptr;
        EXPECT_EQ(page->SetObjects(1, &none), E_NOINTERFACE);
        EXPECT_EQ(page->SetObjects(0, &none), E_NOINTERFACE);
    }
}

} // namespace
