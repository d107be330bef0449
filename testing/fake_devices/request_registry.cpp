#include "request_registry.h"

#include <array>
#include <cstring>
#include <utility>

#include "gen_utils/cam_error.h"

namespace fake_devices {

namespace {
constexpr std::uint32_t support_get_set = 3;

KsPropDataRequest make_request(std::uint32_t type, const GUID& set, std::uint32_t id, void* instance,
                               std::uint32_t instance_size, void* data, std::uint32_t data_size)
{
    KsPropDataRequest request;
    request.request_type = type;
    request.property_set = set;
    request.property_id = id;
    request.instance = instance;
    request.instance_size = instance_size;
    request.value = data;
    request.value_size = data_size;
    return request;
}

void copy_u32(unsigned char* to, const unsigned char* from)
{
    std::memcpy(to, from, sizeof(std::uint32_t));
}
} // namespace

request_registry::request_registry(std::shared_ptr<utils::property_store_itf> store)
    : gen_property_reqistry(std::move(store))
{
}

cam::property_req_entry_itf& request_registry::add_handler(std::unique_ptr<cam::property_req_entry_itf> handler,
                                                           std::span<const cam::property_req_key> keys,
                                                           unsigned level)
{
    std::lock_guard lock(request_mutex_);
    handlers_.push_back(std::move(handler));
    register_handler_keys(keys, handlers_.back().get(), level);
    return *handlers_.back();
}

HRESULT request_registry::set_property(const GUID* set, std::uint32_t id, void* instance,
                                       std::uint32_t instance_size, void* data, std::uint32_t data_size)
{
    if (set == nullptr || (data == nullptr && data_size != 0)) {
        return E_POINTER;
    }
    std::lock_guard lock(request_mutex_);
    if (cam::is_standard_video_set(*set)) {
        return set_standard(*set, id, instance, instance_size, static_cast<const unsigned char*>(data), data_size);
    }
    auto request = make_request(KsPropDataRequest::set, *set, id, instance, instance_size, data, data_size);
    return cam::to_hresult(gen_property_reqistry::set_request(request, cam::level_override));
}

HRESULT request_registry::get_property(const GUID* set, std::uint32_t id, void* instance,
                                       std::uint32_t instance_size, void* data, std::uint32_t data_size,
                                       std::uint32_t* returned)
{
    if (set == nullptr || (data == nullptr && data_size != 0)) {
        return E_POINTER;
    }
    std::lock_guard lock(request_mutex_);
    if (cam::is_standard_video_set(*set)) {
        return get_standard(*set, id, instance, instance_size, static_cast<unsigned char*>(data), data_size,
                            returned);
    }
    auto request = make_request(KsPropDataRequest::get, *set, id, instance, instance_size, data, data_size);
    const auto ec = gen_property_reqistry::get_request(request, cam::level_override);
    if (returned != nullptr) {
        *returned = request.bytes_returned;
    }
    return cam::to_hresult(ec);
}

HRESULT request_registry::query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support)
{
    if (set == nullptr || support == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(request_mutex_);
    if (!is_supported({*set, id})) {
        return E_NOTIMPL;
    }
    *support = support_get_set;
    return S_OK;
}

// The client's 48-byte record from the handler's range record (20 bytes) and
// value record (40 bytes); the client's bytes 0-23 stay as they were.
HRESULT request_registry::get_standard(const GUID& set, std::uint32_t id, void* instance,
                                       std::uint32_t instance_size, unsigned char* data, std::uint32_t data_size,
                                       std::uint32_t* returned)
{
    if (data_size < cam::range_value_reply_size) {
        if (returned != nullptr) {
            *returned = cam::range_value_reply_size;
        }
        return E_INVALIDARG;
    }
    std::array<unsigned char, cam::std_range_reply_size> range{};
    auto range_request = make_request(KsPropDataRequest::get, set, id, instance, instance_size, range.data(),
                                      cam::std_range_reply_size);
    range_request.query_flags = KsPropDataRequest::query_range;
    if (auto ec = gen_property_reqistry::get_request(range_request, cam::level_override)) {
        return cam::to_hresult(ec);
    }
    std::array<unsigned char, cam::std_value_reply_size> value{};
    auto value_request = make_request(KsPropDataRequest::get, set, id, instance, instance_size, value.data(),
                                      cam::std_value_reply_size);
    if (auto ec = gen_property_reqistry::get_request(value_request, cam::level_override)) {
        return cam::to_hresult(ec);
    }
    copy_u32(data + 24, value.data() + 24); // value
    copy_u32(data + 28, value.data() + 28); // flags
    copy_u32(data + 32, range.data() + 16); // capabilities
    copy_u32(data + 36, range.data() + 0);  // minimum
    copy_u32(data + 40, range.data() + 4);  // maximum
    copy_u32(data + 44, range.data() + 8);  // default
    if (returned != nullptr) {
        *returned = cam::range_value_reply_size;
    }
    return S_OK;
}

// The handler sees a 40-byte value record holding only the client's value and
// flags.
HRESULT request_registry::set_standard(const GUID& set, std::uint32_t id, void* instance,
                                       std::uint32_t instance_size, const unsigned char* data,
                                       std::uint32_t data_size)
{
    if (data_size < cam::range_value_reply_size) {
        return E_INVALIDARG;
    }
    std::array<unsigned char, cam::std_value_reply_size> record{};
    std::memcpy(record.data() + 24, data + 24, 8);
    auto request = make_request(KsPropDataRequest::set, set, id, instance, instance_size, record.data(),
                                cam::std_value_reply_size);
    return cam::to_hresult(gen_property_reqistry::set_request(request, cam::level_override));
}

} // namespace fake_devices
