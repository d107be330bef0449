#pragma once
// Generic handlers: one built from a get and a set callable, and a family that
// exposes one variable of its owner as a property (integer, float, boolean),
// optionally range-checked and persisted under a name.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "device_impl/device_impl_tools/propset/property_req_entry_itf.h"

namespace cam {

using property_req_fn = std::function<std::error_code(KsPropDataRequest&)>;

// A handler over two callables, either of which may be empty: query_support
// reports which are present, and a request for an absent one answers
// 0x80004001.
class property_req_entry_ final : public property_req_entry_itf {
public:
    property_req_entry_(property_req_fn get, property_req_fn set);

    std::error_code query_support(bool& get_supported, bool& set_supported) override;
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

private:
    property_req_fn get_;
    property_req_fn set_;
};

// 0x80004005: a request type other than get or set.
std::error_code bad_request_type_error() noexcept;

// Stands for the load and save callables of a handler that persists nothing.
struct no_persistence {};

// A handler over four callables bound to one variable. The get callable
// answers request_type 0 by writing the value and 1 by storing it; the set
// callable is reached only with request_type 1 (anything else: 0x80004005).
template <class Get, class Set, class Load = no_persistence, class Save = no_persistence>
class property_req_entry_func final : public property_req_entry_itf {
public:
    property_req_entry_func(Get get, Set set, Load load = {}, Save save = {})
        : get_(std::move(get)), set_(std::move(set)), load_(std::move(load)), save_(std::move(save))
    {
    }

    std::error_code query_support(bool& get_supported, bool& set_supported) override
    {
        get_supported = true;
        set_supported = true;
        return {};
    }
    std::error_code get_request(KsPropDataRequest& request) override { return get_(request); }
    std::error_code set_request(KsPropDataRequest& request) override
    {
        if (request.request_type != KsPropDataRequest::set) {
            return bad_request_type_error();
        }
        return set_(request);
    }
    void load_value(utils::property_store_itf& store) override
    {
        if constexpr (!std::is_same_v<Load, no_persistence>) {
            load_(store);
        }
    }
    void save_value(utils::property_store_itf& store) override
    {
        if constexpr (!std::is_same_v<Save, no_persistence>) {
            save_(store);
        }
    }

private:
    Get get_;
    Set set_;
    [[no_unique_address]] Load load_;
    [[no_unique_address]] Save save_;
};

// Members of the family. The variable must outlive the handler. With an empty
// name nothing is persisted. Values are the 4-byte record at offset 0.
//
// Integer: min <= v <= max, else 0x80070057 and the variable is unchanged;
// persisted as an integer.
std::unique_ptr<property_req_entry_itf> make_int_property(std::int32_t* variable, std::int32_t min,
                                                          std::int32_t max, std::wstring name = {});
// Integer without range check.
std::unique_ptr<property_req_entry_itf> make_int_property_unchecked(std::int32_t* variable, std::wstring name = {});
// Float (single precision): NaN and values outside min..max → 0x80070057;
// persisted as the float's 32 bits.
std::unique_ptr<property_req_entry_itf> make_float_property(float* variable, float min, float max,
                                                            std::wstring name = {});
// Boolean: reads 1 or 0, stores value != 0; persisted as 0 or 1.
std::unique_ptr<property_req_entry_itf> make_bool_property(bool* variable, std::wstring name = {});
// The same over a flag that another thread reads while requests change it.
std::unique_ptr<property_req_entry_itf> make_bool_property(std::atomic<bool>* variable, std::wstring name = {});

} // namespace cam
