// The property-page module's entry points: exactly the four that a COM
// in-process server exports (see camtovra_propertypage.def).

#include "propertypage/class_factory.h"
#include "propertypage/page_module.h"
#include "propertypage/page_registration.h"
#include "propertypage/page_templates.h"
#include "propertypage/vcd_control_base.h"

#include <new>

using namespace camtovra_propertypage;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        set_module_instance(module);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        // Unloaded while the process goes on: the control classes' window
        // procedure leaves with this module.
        if (reserved == nullptr) {
            VCDPropUI::control_window::unregister_classes();
        }
        set_module_instance(nullptr);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    for (const page_template& page : page_templates()) {
        if (IsEqualCLSID(clsid, page.page_clsid)) {
            auto* factory = new (std::nothrow) CClassFactory(page);
            if (factory == nullptr) {
                return E_OUTOFMEMORY;
            }
            factory->AddRef();
            *object = factory;
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return can_unload() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const std::wstring path = module_path(module_instance());
    if (path.empty()) {
        return E_FAIL;
    }
    return register_pages(page_templates(), path);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    if (module_path(module_instance()).empty()) {
        return E_FAIL;
    }
    return unregister_pages(page_templates());
}
