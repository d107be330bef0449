#include "session_proxy/com_discovery_client.h"

#include <objbase.h>
#include <oleauto.h>

#include "camtovra_service.h"

namespace session_proxy {

namespace {
// Owns one reference to the discovery object.
class com_discovery_client final : public discovery_client {
public:
    explicit com_discovery_client(ICamTovraDiscoverService* service) : service_(service) {}
    ~com_discovery_client() override { service_->Release(); }
    com_discovery_client(const com_discovery_client&) = delete;
    com_discovery_client& operator=(const com_discovery_client&) = delete;

    HRESULT register_event_mailslot(DWORD process_id, const std::wstring& name) override
    {
        return with_bstr(name, [&](BSTR text) { return service_->RegisterEventMailslot(process_id, text); });
    }
    HRESULT remove_event_mailslot(DWORD process_id, const std::wstring& name) override
    {
        return with_bstr(name, [&](BSTR text) { return service_->RemoveEventMailslot(process_id, text); });
    }

private:
    template <typename Call>
    static HRESULT with_bstr(const std::wstring& text, Call call)
    {
        BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (value == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = call(value);
        SysFreeString(value);
        return result;
    }

    ICamTovraDiscoverService* service_;
};
} // namespace

discovery_connector com_discovery_connector()
{
    return []() -> std::unique_ptr<discovery_client> {
        ICamTovraDiscoverService* service = nullptr;
        if (FAILED(CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr,
                                    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                    IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service))) ||
            service == nullptr) {
            return nullptr;
        }
        return std::make_unique<com_discovery_client>(service);
    };
}

} // namespace session_proxy
