#include "test_filter/scripted_backend.h"

#include <algorithm>

namespace test_filter {

namespace {
std::vector<std::uint8_t> copy_of(const void* bytes, DWORD length)
{
    if (bytes == nullptr || length == 0) {
        return {};
    }
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    return {first, first + length};
}
} // namespace

void scripted_backend::set_property(const GUID& set, DWORD id, scripted_property property)
{
    std::lock_guard guard(lock_);
    properties_[{set, id}] = std::move(property);
}

void scripted_backend::respond_get(const GUID& set, DWORD id, get_responder responder)
{
    std::lock_guard guard(lock_);
    get_responders_[{set, id}] = std::move(responder);
}

void scripted_backend::respond_set(const GUID& set, DWORD id, set_responder responder)
{
    std::lock_guard guard(lock_);
    set_responders_[{set, id}] = std::move(responder);
}

void scripted_backend::set_control(control_interface which, LONG property, scripted_control control)
{
    std::lock_guard guard(lock_);
    controls_[{which, property}] = control;
}

std::optional<scripted_property> scripted_backend::property(const GUID& set, DWORD id) const
{
    std::lock_guard guard(lock_);
    const auto found = properties_.find({set, id});
    if (found == properties_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<scripted_control> scripted_backend::control(control_interface which, LONG property) const
{
    std::lock_guard guard(lock_);
    const auto found = controls_.find({which, property});
    if (found == controls_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<property_call> scripted_backend::calls() const
{
    std::lock_guard guard(lock_);
    return calls_;
}

std::vector<property_call> scripted_backend::sets_of(const GUID& set, DWORD id) const
{
    std::lock_guard guard(lock_);
    std::vector<property_call> found;
    for (const property_call& call : calls_) {
        if (call.is_set && call.id == id && IsEqualGUID(call.set, set)) {
            found.push_back(call);
        }
    }
    return found;
}

void scripted_backend::clear_calls()
{
    std::lock_guard guard(lock_);
    calls_.clear();
}

HRESULT scripted_backend::ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                                 DWORD data_length)
{
    std::lock_guard guard(lock_);
    calls_.push_back({true, set, id, copy_of(instance, instance_length), copy_of(data, data_length)});
    const std::vector<std::uint8_t>& carried = calls_.back().data;
    if (const auto responder = set_responders_.find({set, id}); responder != set_responders_.end()) {
        return responder->second(calls_.back().instance, carried);
    }
    const auto found = properties_.find({set, id});
    if (found == properties_.end()) {
        return E_NOTIMPL;
    }
    if (SUCCEEDED(found->second.set_result)) {
        found->second.value = carried;
    }
    return found->second.set_result;
}

HRESULT scripted_backend::ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                                 DWORD data_length, DWORD* returned)
{
    std::lock_guard guard(lock_);
    // The instance is copied first: callers may pass one buffer as both.
    calls_.push_back({false, set, id, copy_of(instance, instance_length), {}});
    DWORD count = 0;
    HRESULT hr = E_NOTIMPL;
    if (const auto responder = get_responders_.find({set, id}); responder != get_responders_.end()) {
        hr = responder->second(
            calls_.back().instance,
            std::span<std::uint8_t>(static_cast<std::uint8_t*>(data), data == nullptr ? 0 : data_length), count);
    } else if (const auto found = properties_.find({set, id}); found != properties_.end()) {
        const scripted_property& answer = found->second;
        hr = answer.get_result;
        if (SUCCEEDED(hr) && data != nullptr) {
            count = static_cast<DWORD>(std::min<std::size_t>(answer.value.size(), data_length));
            std::memcpy(data, answer.value.data(), count);
        }
        if (answer.reply_length) {
            count = *answer.reply_length;
        }
    }
    if (returned != nullptr) {
        *returned = count;
    }
    return hr;
}

HRESULT scripted_backend::ks_query_supported(REFGUID set, DWORD id, DWORD* support)
{
    std::lock_guard guard(lock_);
    if (support == nullptr) {
        return E_POINTER;
    }
    const auto found = properties_.find({set, id});
    if (found != properties_.end()) {
        *support = found->second.support;
        return found->second.query_result;
    }
    if (get_responders_.count({set, id}) != 0 || set_responders_.count({set, id}) != 0) {
        *support = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
        return S_OK;
    }
    return E_NOTIMPL;
}

HRESULT scripted_backend::control_range(control_interface which, LONG property, LONG* minimum, LONG* maximum,
                                        LONG* step, LONG* default_value, LONG* flags)
{
    std::lock_guard guard(lock_);
    const auto found = controls_.find({which, property});
    if (found == controls_.end()) {
        return E_NOTIMPL;
    }
    const scripted_control& c = found->second;
    if (SUCCEEDED(c.range_result)) {
        *minimum = c.minimum;
        *maximum = c.maximum;
        *step = c.step;
        *default_value = c.default_value;
        *flags = c.capabilities;
    }
    return c.range_result;
}

HRESULT scripted_backend::control_get(control_interface which, LONG property, LONG* value, LONG* flags)
{
    std::lock_guard guard(lock_);
    const auto found = controls_.find({which, property});
    if (found == controls_.end()) {
        return E_NOTIMPL;
    }
    const scripted_control& c = found->second;
    if (SUCCEEDED(c.get_result)) {
        *value = c.value;
        *flags = c.flags;
    }
    return c.get_result;
}

HRESULT scripted_backend::control_set(control_interface which, LONG property, LONG value, LONG flags)
{
    std::lock_guard guard(lock_);
    const auto found = controls_.find({which, property});
    if (found == controls_.end()) {
        return E_NOTIMPL;
    }
    scripted_control& c = found->second;
    if (SUCCEEDED(c.set_result)) {
        c.value = value;
        c.flags = flags;
    }
    return c.set_result;
}

} // namespace test_filter
