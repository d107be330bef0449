#include "device_impl/device_impl_tools/propset/property_req_table.h"

#include <algorithm>
#include <string>

namespace cam {

property_req_table::~property_req_table() = default;

property_req_entry_itf* property_req_table::find(const property_req_key& key, unsigned level) const noexcept
{
    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        return nullptr;
    }
    for (unsigned position = std::min(level, level_count - 1) + 1; position-- > 0;) {
        if (found->second[position] != nullptr) {
            return found->second[position];
        }
    }
    return nullptr;
}

property_req_table::positions& property_req_table::find_or_insert(const property_req_key& key)
{
    return entries_.try_emplace(key).first->second;
}

property_req_entry_itf& property_req_table::add_owned(const property_req_key& key,
                                                      std::unique_ptr<property_req_entry_itf> handler,
                                                      unsigned level)
{
    auto& slot = find_or_insert(key)[std::min(level, level_count - 1)];
    owned_.push_back(std::move(handler));
    slot = owned_.back().get();
    return *slot;
}

property_req_entry_itf& property_req_table::add_function_entry(const property_req_key& key, property_req_fn get,
                                                               property_req_fn set)
{
    return add_owned(key, std::make_unique<property_req_entry_>(std::move(get), std::move(set)));
}

property_req_entry_itf& property_req_table::add_int_property(const property_req_key& key, std::wstring_view name,
                                                             std::int32_t* variable, std::int32_t min,
                                                             std::int32_t max)
{
    return add_owned(key, make_int_property(variable, min, max, std::wstring(name)));
}

property_req_entry_itf& property_req_table::add_float_property(const property_req_key& key, std::wstring_view name,
                                                               float* variable, float min, float max)
{
    return add_owned(key, make_float_property(variable, min, max, std::wstring(name)));
}

property_req_entry_itf& property_req_table::add_bool_property(const property_req_key& key, std::wstring_view name,
                                                              bool* variable)
{
    return add_owned(key, make_bool_property(variable, std::wstring(name)));
}

property_req_entry_itf& property_req_table::add_bool_property_unnamed(const property_req_key& key, bool* variable)
{
    return add_owned(key, make_bool_property(variable));
}

property_req_entry_itf& property_req_table::add_bool_property_unnamed(const property_req_key& key,
                                                                      std::atomic<bool>* variable)
{
    return add_owned(key, make_bool_property(variable));
}

void property_req_table::for_each_position(
    const std::function<void(const property_req_key&, unsigned, property_req_entry_itf&)>& visit) const
{
    for (const auto& [key, positions] : entries_) {
        for (unsigned position = level_count; position-- > 0;) {
            if (positions[position] != nullptr) {
                visit(key, position, *positions[position]);
            }
        }
    }
}

} // namespace cam
