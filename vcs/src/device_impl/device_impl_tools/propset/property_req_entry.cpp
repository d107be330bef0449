#include "device_impl/device_impl_tools/propset/property_req_entry.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "device_impl/device_impl_tools/propset/property_reply.h"
#include "gen_utils/cam_error.h"
#include "properties/property_store.h"

namespace cam {

namespace {

std::error_code not_served() noexcept
{
    return make_cam_error(E_NOTIMPL);
}

std::error_code out_of_range() noexcept
{
    return make_cam_error(E_INVALIDARG);
}

// The 4-byte value at offset 0 of a set record.
template <class T>
std::error_code read_value(KsPropDataRequest& request, T& value) noexcept
{
    static_assert(sizeof(T) == int_reply_size);
    if (auto ec = check_value_buffer(request, int_reply_size)) {
        return ec;
    }
    std::memcpy(&value, request.value, sizeof(T));
    return {};
}

// What each member of the family does with its variable; the handler's four
// callables are built from these.
struct int_kind {
    using variable_type = std::int32_t;
    using wire_type = std::int32_t;
    bool checked;
    std::int32_t min;
    std::int32_t max;

    bool accepts(std::int64_t v) const noexcept
    {
        if (!checked) {
            return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
        }
        return v >= min && v <= max;
    }
    std::int32_t to_wire(std::int32_t v) const noexcept { return v; }
    bool from_wire(std::int32_t wire, std::int32_t& out) const noexcept
    {
        if (!accepts(wire)) {
            return false;
        }
        out = wire;
        return true;
    }
    bool from_stored(std::int64_t stored, std::int32_t& out) const noexcept
    {
        if (!accepts(stored)) {
            return false;
        }
        out = static_cast<std::int32_t>(stored);
        return true;
    }
    std::int64_t to_stored(std::int32_t v) const noexcept { return v; }
};

struct float_kind {
    using variable_type = float;
    using wire_type = float;
    float min;
    float max;

    bool accepts(float v) const noexcept { return !std::isnan(v) && v >= min && v <= max; }
    float to_wire(float v) const noexcept { return v; }
    bool from_wire(float wire, float& out) const noexcept
    {
        if (!accepts(wire)) {
            return false;
        }
        out = wire;
        return true;
    }
    // Stored as the float's 32 bits; a value with higher bits set is not one
    // this handler wrote.
    bool from_stored(std::int64_t stored, float& out) const noexcept
    {
        const auto bits = static_cast<std::uint64_t>(stored);
        if (bits > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        return from_wire(std::bit_cast<float>(static_cast<std::uint32_t>(bits)), out);
    }
    std::int64_t to_stored(float v) const noexcept { return std::bit_cast<std::uint32_t>(v); }
};

struct bool_kind {
    using variable_type = bool;
    using wire_type = std::int32_t;

    std::int32_t to_wire(bool v) const noexcept { return v ? 1 : 0; }
    bool from_wire(std::int32_t wire, bool& out) const noexcept
    {
        out = wire != 0;
        return true;
    }
    bool from_stored(std::int64_t stored, bool& out) const noexcept
    {
        out = stored != 0;
        return true;
    }
    std::int64_t to_stored(bool v) const noexcept { return v ? 1 : 0; }
};

struct atomic_bool_kind {
    using variable_type = std::atomic<bool>;
    using wire_type = std::int32_t;

    std::int32_t to_wire(const std::atomic<bool>& v) const noexcept { return v.load() ? 1 : 0; }
    bool from_wire(std::int32_t wire, bool& out) const noexcept
    {
        out = wire != 0;
        return true;
    }
    bool from_stored(std::int64_t stored, bool& out) const noexcept
    {
        out = stored != 0;
        return true;
    }
    std::int64_t to_stored(const std::atomic<bool>& v) const noexcept { return v.load() ? 1 : 0; }
};

// What a kind accepts before it is stored in its variable.
template <class Kind>
struct accepted_type {
    using type = typename Kind::variable_type;
};
template <>
struct accepted_type<atomic_bool_kind> {
    using type = bool;
};

template <class Kind>
auto make_set(typename Kind::variable_type* variable, Kind kind)
{
    return [variable, kind](KsPropDataRequest& request) -> std::error_code {
        typename Kind::wire_type wire{};
        if (auto ec = read_value(request, wire)) {
            return ec;
        }
        typename accepted_type<Kind>::type accepted{};
        if (!kind.from_wire(wire, accepted)) {
            return out_of_range();
        }
        *variable = accepted;
        return {};
    };
}

template <class Kind>
auto make_get(typename Kind::variable_type* variable, Kind kind)
{
    return [variable, kind, set = make_set(variable, kind)](KsPropDataRequest& request) -> std::error_code {
        switch (request.request_type) {
        case KsPropDataRequest::get: {
            if (auto ec = check_value_buffer(request, int_reply_size)) {
                return ec;
            }
            const auto wire = kind.to_wire(*variable);
            std::memcpy(request.value, &wire, sizeof(wire));
            request.bytes_returned = int_reply_size;
            return {};
        }
        case KsPropDataRequest::set: return set(request);
        default: return bad_request_type_error();
        }
    };
}

template <class Kind>
std::unique_ptr<property_req_entry_itf> make_member(typename Kind::variable_type* variable, Kind kind,
                                                    std::wstring name)
{
    auto get = make_get(variable, kind);
    auto set = make_set(variable, kind);
    if (name.empty()) {
        return std::make_unique<property_req_entry_func<decltype(get), decltype(set)>>(std::move(get),
                                                                                      std::move(set));
    }
    // A stored value that a set would refuse (out of range, NaN, not ours) is
    // ignored: the variable keeps its current value.
    auto load = [variable, kind, name](utils::property_store_itf& store) {
        std::int64_t stored = 0;
        typename accepted_type<Kind>::type accepted{};
        if (store.read_int(name, stored) && kind.from_stored(stored, accepted)) {
            *variable = accepted;
        }
    };
    auto save = [variable, kind, name](utils::property_store_itf& store) {
        store.write_int(name, kind.to_stored(*variable));
    };
    return std::make_unique<
        property_req_entry_func<decltype(get), decltype(set), decltype(load), decltype(save)>>(
        std::move(get), std::move(set), std::move(load), std::move(save));
}

} // namespace

std::error_code bad_request_type_error() noexcept
{
    return make_cam_error(E_FAIL);
}

property_req_entry_::property_req_entry_(property_req_fn get, property_req_fn set)
    : get_(std::move(get)), set_(std::move(set))
{
}

std::error_code property_req_entry_::query_support(bool& get_supported, bool& set_supported)
{
    get_supported = static_cast<bool>(get_);
    set_supported = static_cast<bool>(set_);
    return {};
}

std::error_code property_req_entry_::get_request(KsPropDataRequest& request)
{
    return get_ ? get_(request) : not_served();
}

std::error_code property_req_entry_::set_request(KsPropDataRequest& request)
{
    return set_ ? set_(request) : not_served();
}

std::unique_ptr<property_req_entry_itf> make_int_property(std::int32_t* variable, std::int32_t min,
                                                          std::int32_t max, std::wstring name)
{
    return make_member(variable, int_kind{true, min, max}, std::move(name));
}

std::unique_ptr<property_req_entry_itf> make_int_property_unchecked(std::int32_t* variable, std::wstring name)
{
    return make_member(variable, int_kind{false, 0, 0}, std::move(name));
}

std::unique_ptr<property_req_entry_itf> make_float_property(float* variable, float min, float max,
                                                            std::wstring name)
{
    return make_member(variable, float_kind{min, max}, std::move(name));
}

std::unique_ptr<property_req_entry_itf> make_bool_property(bool* variable, std::wstring name)
{
    return make_member(variable, bool_kind{}, std::move(name));
}

std::unique_ptr<property_req_entry_itf> make_bool_property(std::atomic<bool>* variable, std::wstring name)
{
    return make_member(variable, atomic_bool_kind{}, std::move(name));
}

} // namespace cam
