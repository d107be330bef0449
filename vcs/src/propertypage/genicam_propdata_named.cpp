#include "propertypage/genicam_propdata_named.h"

#include "propertypage/genicam_named_access.h"
#include "propertypage/hresult_guard.h"

namespace genicam_adapter {

namespace {

std::string request_of(const GenICam::INode& node, const char* suffix)
{
    std::string text(node.get_name());
    text += suffix;
    return text;
}

} // namespace

item_data_ptr genicam_propdata_named::create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept
{
    if (filter == nullptr) {
        return {};
    }
    return make_item<genicam_propdata_named>(retain(filter), descriptor);
}

genicam_propdata_named::genicam_propdata_named(atl::com_ptr<IKsPropertySet> filter, const item_descriptor& descriptor)
    : genicam_propdata_base(std::move(filter), descriptor)
{
}

template <class Operation>
HRESULT genicam_propdata_named::with_request(interface_id id, const char* suffix, Operation&& operation) noexcept
{
    GenICam::INode* node = feature(id);
    if (node == nullptr) {
        return E_INVALIDARG;
    }
    return hresult_guard([&] { return operation(request_of(*node, suffix)); });
}

bool genicam_propdata_named::entry_usable(GenICam::IEnumeration& feature, GenICam::IEnumEntry& entry)
{
    std::string text(feature.get_name());
    text += '/';
    text += entry.get_name();
    text += "/IsImplemented";
    return named_read_bool(filter(), text, reads());
}

HRESULT genicam_propdata_named::is_available(interface_id id, bool& available)
{
    return with_request(id, "/IsLocked", [&](const std::string& request) {
        bool locked = false;
        const HRESULT hr = named_get_flag(filter(), request, locked, reads());
        if (SUCCEEDED(hr)) {
            available = !locked;
        }
        return hr;
    });
}

HRESULT genicam_propdata_named::get_switch(interface_id id, bool& on)
{
    return with_request(id, "/Value",
                        [&](const std::string& request) { return named_get_flag(filter(), request, on, reads()); });
}

HRESULT genicam_propdata_named::set_switch(interface_id id, bool on)
{
    return with_request(id, "/Value",
                        [&](const std::string& request) {
                            return named_set_int(filter(), request, on ? 1 : 0, reads());
                        });
}

HRESULT genicam_propdata_named::get_switch_default(interface_id id, bool& on)
{
    return with_request(id, "/Default",
                        [&](const std::string& request) { return named_get_flag(filter(), request, on, reads()); });
}

HRESULT genicam_propdata_named::get_range(interface_id id, VCDAdapterHelper::int_range& range)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return hresult_guard([&] { return enumeration_range(*list, range); });
    }
    GenICam::INode* node = feature(id);
    if (node == nullptr) {
        return E_INVALIDARG;
    }
    return hresult_guard([&] {
        std::int64_t minimum = 0, maximum = 0, step = 1, default_value = 0;
        HRESULT hr = named_get_int(filter(), request_of(*node, "/Min"), minimum, reads());
        if (SUCCEEDED(hr)) {
            hr = named_get_int(filter(), request_of(*node, "/Max"), maximum, reads());
        }
        if (FAILED(hr)) {
            return hr;
        }
        if (FAILED(named_get_int(filter(), request_of(*node, "/Inc"), step, reads()))) {
            step = 1;
        }
        if (FAILED(named_get_int(filter(), request_of(*node, "/Default"), default_value, reads()))) {
            default_value = VCDAdapterHelper::middle_of(minimum, maximum);
        }
        range = saturated_range(minimum, maximum, default_value, step);
        return S_OK;
    });
}

HRESULT genicam_propdata_named::get_value(interface_id id, std::int32_t& value)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return with_request(id, "/SelectedEntry", [&](const std::string& request) {
            std::string selected;
            const HRESULT hr = named_get_entry(filter(), request, selected, reads());
            return FAILED(hr) ? hr : entry_position(*list, selected, value);
        });
    }
    return with_request(id, "/Value", [&](const std::string& request) {
        std::int64_t read = 0;
        const HRESULT hr = named_get_int(filter(), request, read, reads());
        if (SUCCEEDED(hr)) {
            value = VCDAdapterHelper::saturate_32(read);
        }
        return hr;
    });
}

HRESULT genicam_propdata_named::set_value(interface_id id, std::int32_t value)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return with_request(id, "/SelectedEntry", [&](const std::string& request) {
            const std::vector<enum_entry>& usable = entries(*list);
            if (value < 0 || static_cast<std::size_t>(value) >= usable.size()) {
                return E_INVALIDARG;
            }
            const std::string& name = usable[static_cast<std::size_t>(value)].name;
            return named_feature_set(filter(), request, name.data(), static_cast<DWORD>(name.size()), reads());
        });
    }
    return with_request(id, "/Value",
                        [&](const std::string& request) { return named_set_int(filter(), request, value, reads()); });
}

HRESULT genicam_propdata_named::get_abs_range(interface_id id, VCDAdapterHelper::abs_range& range)
{
    GenICam::INode* node = feature(id);
    if (node == nullptr) {
        return E_INVALIDARG;
    }
    return hresult_guard([&] {
        double minimum = 0, maximum = 0, default_value = 0;
        HRESULT hr = named_get_double(filter(), request_of(*node, "/Min"), minimum, reads());
        if (SUCCEEDED(hr)) {
            hr = named_get_double(filter(), request_of(*node, "/Max"), maximum, reads());
        }
        if (FAILED(hr)) {
            return hr;
        }
        if (FAILED(named_get_double(filter(), request_of(*node, "/Default"), default_value, reads()))) {
            default_value = VCDAdapterHelper::middle_of(minimum, maximum);
        }
        range = {minimum, maximum, default_value};
        return S_OK;
    });
}

HRESULT genicam_propdata_named::get_abs_value(interface_id id, double& value)
{
    return with_request(id, "/Value",
                        [&](const std::string& request) {
                            return named_get_double(filter(), request, value, reads());
                        });
}

HRESULT genicam_propdata_named::set_abs_value(interface_id id, double value)
{
    return with_request(id, "/Value",
                        [&](const std::string& request) {
                            return named_set_double(filter(), request, value, reads());
                        });
}

HRESULT genicam_propdata_named::push(interface_id id)
{
    return with_request(id, "/Execute",
                        [&](const std::string& request) { return named_set_int(filter(), request, 1, reads()); });
}

} // namespace genicam_adapter
