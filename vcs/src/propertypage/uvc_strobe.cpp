#include "propertypage/uvc_strobe.h"

#include "propertypage/map_strings.h"

using namespace VCDAdapterHelper;

namespace {

enum : interface_id { id_enable = 0, id_mode = 1, id_polarity = 2, id_duration = 3, id_delay = 4 };

constexpr std::uint32_t caps_no_polarity = 1;
constexpr std::uint32_t caps_no_delay = 2;
constexpr std::uint32_t caps_exposure_only = 4;
// A strobe that is not constant lasts at least this long.
constexpr std::uint32_t shortest_duration = 10;
constexpr std::int32_t time_step = 10;

const wchar_t* mode_text(std::int32_t mode) noexcept
{
    switch (mode) {
    case CUVCStrobe::mode_constant:
        return L"constant";
    case CUVCStrobe::mode_fixed_duration:
        return L"fixed duration";
    default:
        return L"exposure";
    }
}

std::int32_t as_value(std::uint32_t wire) noexcept
{
    return wire > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(wire);
}

} // namespace

item_data_ptr CUVCStrobe::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe)) {
        return {};
    }
    return make_item<CUVCStrobe>(retain(filter));
}

CUVCStrobe::CUVCStrobe(atl::com_ptr<IKsPropertySet> filter) noexcept : filter_(std::move(filter)) {}

HRESULT CUVCStrobe::read(strobe_record& record)
{
    if (!cache_valid_) {
        const HRESULT hr =
            ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, cached_, reads());
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (mode_ == mode_unknown) {
        if (cached_.delay != 0 || cached_.duration != 0 || (cached_.capabilities & caps_exposure_only) != 0) {
            mode_ = cached_.follow_exposure != 0 ? mode_exposure : mode_fixed_duration;
        } else {
            mode_ = mode_constant;
        }
    }
    if (mode_ != mode_constant && cached_.duration == 0) {
        cached_.duration = shortest_duration;
    }
    cache_valid_ = true;
    record = cached_;
    return S_OK;
}

HRESULT CUVCStrobe::write(strobe_record record)
{
    if (mode_ != mode_constant) {
        record.follow_exposure = mode_ != mode_fixed_duration ? 1 : 0;
        if (record.duration == 0) {
            record.duration = shortest_duration;
        }
    } else {
        record.delay = 0;
        record.duration = 0;
        record.follow_exposure = 0;
    }
    const HRESULT hr = ks_set_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::strobe, record, reads());
    if (SUCCEEDED(hr)) {
        cached_ = record;
        cache_valid_ = true;
    } else {
        cache_valid_ = false;
    }
    return hr;
}

HRESULT CUVCStrobe::modes(std::span<const std::int32_t>& list)
{
    if (mode_count_ == 0) {
        strobe_record record{};
        const HRESULT hr = read(record);
        if (FAILED(hr)) {
            return hr;
        }
        if ((record.capabilities & caps_exposure_only) == 0) {
            modes_ = {mode_constant, mode_fixed_duration, mode_exposure};
            mode_count_ = 3;
        } else {
            modes_ = {mode_exposure};
            mode_count_ = 1;
        }
    }
    list = std::span<const std::int32_t>(modes_.data(), mode_count_);
    return S_OK;
}

std::int32_t CUVCStrobe::position_of(std::span<const std::int32_t> list, std::int32_t mode) noexcept
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == mode) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

bool CUVCStrobe::is_interface_supported(interface_id id)
{
    strobe_record record{};
    if (FAILED(read(record))) {
        return false;
    }
    switch (id) {
    case id_enable:
    case id_mode:
        return true;
    case id_polarity:
        return (record.capabilities & caps_no_polarity) == 0;
    case id_duration:
        return (record.capabilities & caps_exposure_only) == 0;
    case id_delay:
        return (record.capabilities & caps_no_delay) == 0;
    default:
        return false;
    }
}

HRESULT CUVCStrobe::refresh(interface_id)
{
    mode_ = mode_unknown;
    cache_valid_ = false;
    return S_OK;
}

HRESULT CUVCStrobe::is_available(interface_id id, bool& available)
{
    strobe_record record{};
    if (FAILED(read(record))) {
        available = false;
        return S_OK;
    }
    if (id == id_enable) {
        available = true;
    } else if (record.enable == 0) {
        available = false;
    } else if (id == id_duration) {
        available = mode_ == mode_fixed_duration;
    } else if (id == id_delay) {
        available = mode_ != mode_constant;
    } else {
        available = true;
    }
    return S_OK;
}

HRESULT CUVCStrobe::get_switch(interface_id id, bool& on)
{
    if (id != id_enable && id != id_polarity) {
        return E_NOTIMPL;
    }
    strobe_record record{};
    const HRESULT hr = read(record);
    if (SUCCEEDED(hr)) {
        on = (id == id_enable ? record.enable : record.polarity) != 0;
    }
    return hr;
}

HRESULT CUVCStrobe::set_switch(interface_id id, bool on)
{
    if (id != id_enable && id != id_polarity) {
        return E_NOTIMPL;
    }
    strobe_record record{};
    const HRESULT hr = read(record);
    if (FAILED(hr)) {
        return hr;
    }
    (id == id_enable ? record.enable : record.polarity) = on ? 1 : 0;
    return write(record);
}

HRESULT CUVCStrobe::get_range(interface_id id, int_range& range)
{
    if (id == id_mode) {
        std::span<const std::int32_t> list;
        const HRESULT hr = modes(list);
        if (FAILED(hr)) {
            return hr;
        }
        std::int32_t preferred = position_of(list, mode_fixed_duration);
        if (preferred < 0) {
            preferred = position_of(list, mode_exposure);
        }
        range = {0, static_cast<std::int32_t>(list.size()) - 1, preferred, 1};
        return S_OK;
    }
    if (id != id_duration && id != id_delay) {
        return E_NOTIMPL;
    }
    strobe_record record{};
    const HRESULT hr = read(record);
    if (FAILED(hr)) {
        return hr;
    }
    if (id == id_duration) {
        const std::uint32_t minimum = record.duration_minimum == 0 ? shortest_duration : record.duration_minimum;
        range = {as_value(minimum), as_value(record.duration_maximum), as_value(record.duration_default), time_step};
    } else {
        range = {as_value(record.delay_minimum), as_value(record.delay_maximum), as_value(record.delay_default),
                 time_step};
    }
    return S_OK;
}

HRESULT CUVCStrobe::get_value(interface_id id, std::int32_t& value)
{
    if (id == id_mode) {
        std::span<const std::int32_t> list;
        strobe_record record{};
        HRESULT hr = modes(list);
        if (SUCCEEDED(hr)) {
            hr = read(record);
        }
        if (FAILED(hr)) {
            return hr;
        }
        const std::int32_t position = position_of(list, mode_);
        if (position < 0) {
            return E_FAIL;
        }
        value = position;
        return S_OK;
    }
    if (id != id_duration && id != id_delay) {
        return E_NOTIMPL;
    }
    strobe_record record{};
    const HRESULT hr = read(record);
    if (SUCCEEDED(hr)) {
        value = as_value(id == id_duration ? record.duration : record.delay);
    }
    return hr;
}

HRESULT CUVCStrobe::set_value(interface_id id, std::int32_t value)
{
    if (id != id_mode && id != id_duration && id != id_delay) {
        return E_NOTIMPL;
    }
    strobe_record record{};
    HRESULT hr = read(record);
    if (FAILED(hr)) {
        return hr;
    }
    if (id == id_mode) {
        std::span<const std::int32_t> list;
        hr = modes(list);
        if (FAILED(hr)) {
            return hr;
        }
        if (value >= 0 && static_cast<std::size_t>(value) < list.size()) {
            mode_ = list[static_cast<std::size_t>(value)];
        }
    } else {
        (id == id_duration ? record.duration : record.delay) = static_cast<std::uint32_t>(value);
    }
    return write(record);
}

HRESULT CUVCStrobe::get_map_strings(interface_id id, std::vector<atl::bstr>& texts)
{
    if (id != id_mode) {
        return E_NOTIMPL;
    }
    std::span<const std::int32_t> list;
    const HRESULT hr = modes(list);
    if (FAILED(hr)) {
        return hr;
    }
    std::array<std::wstring_view, 3> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        names[i] = mode_text(list[i]);
    }
    return append_map_strings(texts, std::span<const std::wstring_view>(names.data(), list.size()));
}
