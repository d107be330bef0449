#pragma once
// The per-camera map from (set, id) to three handler positions (levels 0, 1,
// 2), plus the handlers the table owns. Positions are plain references: a
// handler registered from outside stays its registrant's.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device_impl/device_impl_tools/propset/property_req_entry.h"

namespace cam {

class property_req_table {
public:
    using positions = std::array<property_req_entry_itf*, level_count>;

    property_req_table() = default;
    property_req_table(const property_req_table&) = delete;
    property_req_table& operator=(const property_req_table&) = delete;
    ~property_req_table();

    // The handler at the highest occupied position not above `level` (levels
    // above 2 are read as 2), or null.
    property_req_entry_itf* find(const property_req_key& key, unsigned level) const noexcept;
    // The key's positions, all null for a new key.
    positions& find_or_insert(const property_req_key& key);

    // Puts `handler` at `level` (0-2) of the key and keeps it alive with the table.
    property_req_entry_itf& add_owned(const property_req_key& key, std::unique_ptr<property_req_entry_itf> handler,
                                      unsigned level = level_base);

    // Table builders: level 0, owned by the table.
    property_req_entry_itf& add_function_entry(const property_req_key& key, property_req_fn get,
                                               property_req_fn set);
    property_req_entry_itf& add_int_property(const property_req_key& key, std::wstring_view name,
                                             std::int32_t* variable, std::int32_t min, std::int32_t max);
    property_req_entry_itf& add_float_property(const property_req_key& key, std::wstring_view name, float* variable,
                                               float min, float max);
    property_req_entry_itf& add_bool_property(const property_req_key& key, std::wstring_view name, bool* variable);
    property_req_entry_itf& add_bool_property_unnamed(const property_req_key& key, bool* variable);
    property_req_entry_itf& add_bool_property_unnamed(const property_req_key& key, std::atomic<bool>* variable);

    // Every occupied position in key order, positions 2, 1, 0 within a key: a
    // handler is visited once per position it occupies.
    void for_each_position(const std::function<void(const property_req_key&, unsigned level,
                                                    property_req_entry_itf&)>& visit) const;

    std::size_t key_count() const noexcept { return entries_.size(); }

private:
    std::map<property_req_key, positions> entries_;
    std::vector<std::unique_ptr<property_req_entry_itf>> owned_;
};

} // namespace cam
