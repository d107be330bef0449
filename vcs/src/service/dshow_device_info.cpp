#include "service/dshow_device_info.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "properties/property_store.h"
#include "gen_utils/string_conv.h"

namespace {
// The store of the camera's record, or null.
utils::property_store_itf* store_of(const std::shared_ptr<cam_service::active_device_info>& device)
{
    return device && device->info() ? device->info()->property_store() : nullptr;
}

// The VARIANT's data field as the type left it: the bytes the type sets, the
// others zero.
std::uint64_t data_bytes(const VARIANT& value, std::size_t size) noexcept
{
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, &value.llVal, size);
    return bytes;
}

std::int64_t low_32_sign_extended(std::uint64_t data) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(data));
}
} // namespace

bool variant_to_stored_integer(const VARIANT& value, std::int64_t& stored) noexcept
{
    switch (value.vt) {
    case VT_I8:
    case VT_UI8:
    case VT_R8:
        stored = static_cast<std::int64_t>(data_bytes(value, 8));
        return true;
    case VT_BOOL:
        stored = static_cast<std::int64_t>(data_bytes(value, sizeof(VARIANT_BOOL)));
        return true;
    case VT_I1:
    case VT_UI1:
        stored = low_32_sign_extended(data_bytes(value, 1));
        return true;
    case VT_I2:
    case VT_UI2:
        stored = low_32_sign_extended(data_bytes(value, 2));
        return true;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
        stored = low_32_sign_extended(data_bytes(value, 4));
        return true;
    default:
        return false;
    }
}

CDShowDeviceInfo::CDShowDeviceInfo(std::shared_ptr<cam_service::active_device_info> device)
    : device_(std::move(device))
{
}

HRESULT CDShowDeviceInfo::create(std::shared_ptr<cam_service::active_device_info> device,
                                 ICamTovraDeviceInfo** object)
{
    return atl::heap_object<CDShowDeviceInfo>::create(IID_ICamTovraDeviceInfo, reinterpret_cast<void**>(object),
                                                      std::move(device));
}

STDMETHODIMP CDShowDeviceInfo::ReadProperty(LPWSTR pszPropName, VARIANT* pVar)
{
    if (pszPropName == nullptr || pVar == nullptr) {
        return E_POINTER;
    }
    try {
        utils::property_store_itf* store = store_of(device_);
        if (store == nullptr) {
            return E_NOTIMPL;
        }
        const std::wstring_view name(pszPropName);
        switch (store->value_kind(name)) {
        case utils::property_store_itf::integer: {
            std::int64_t value = 0;
            if (!store->read_int(name, value)) {
                return E_INVALIDARG;
            }
            VariantInit(pVar);
            pVar->vt = VT_I8;
            pVar->llVal = value;
            return S_OK;
        }
        case utils::property_store_itf::string: {
            std::wstring value;
            if (!store->read_string(name, value)) {
                return E_INVALIDARG;
            }
            BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
            if (text == nullptr) {
                return E_OUTOFMEMORY;
            }
            VariantInit(pVar);
            pVar->vt = VT_BSTR;
            pVar->bstrVal = text;
            return S_OK;
        }
        default:
            return E_INVALIDARG;
        }
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CDShowDeviceInfo::WriteProperty(LPWSTR pszPropName, VARIANT* pVar)
{
    if (pszPropName == nullptr || pVar == nullptr) {
        return E_POINTER;
    }
    try {
        utils::property_store_itf* store = store_of(device_);
        if (store == nullptr) {
            return E_NOTIMPL;
        }
        VARIANT value;
        VariantInit(&value);
        const HRESULT copied = VariantCopy(&value, pVar);
        if (FAILED(copied)) {
            return copied;
        }
        const std::wstring_view name(pszPropName);
        bool accepted = false;
        std::int64_t integer = 0;
        if (value.vt == VT_BSTR) {
            const std::wstring_view text(value.bstrVal == nullptr ? L"" : value.bstrVal,
                                         value.bstrVal == nullptr ? 0 : SysStringLen(value.bstrVal));
            accepted = store->write_string(name, text);
        } else if (variant_to_stored_integer(value, integer)) {
            accepted = store->write_int(name, integer);
        } else {
            VariantClear(&value);
            return E_FAIL;
        }
        VariantClear(&value);
        return accepted ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}
