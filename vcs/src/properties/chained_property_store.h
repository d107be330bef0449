#pragma once
// One property store made of several, in order of precedence: reads take the
// first store that has the value, writes go to the last store that accepts
// them. A camera reads its service-wide defaults before its own settings this
// way, while everything it writes lands in its own settings only (the defaults
// store is opened read-only and refuses writes).

#include <memory>
#include <vector>

#include "properties/property_store.h"

namespace utils {

class chained_property_store final : public property_store_itf {
public:
    using store_list = std::vector<std::shared_ptr<property_store_itf>>;

    // Null entries are dropped.
    explicit chained_property_store(store_list stores);

    bool read_int(std::wstring_view name, std::int64_t& value) override;
    bool read_string(std::wstring_view name, std::wstring& value) override;
    bool write_int(std::wstring_view name, std::int64_t value) override;
    bool write_string(std::wstring_view name, std::wstring_view value) override;
    // Removes the name from every store; true if any of them had it.
    bool remove(std::wstring_view name) override;
    int value_kind(std::wstring_view name) override;

    [[nodiscard]] std::size_t size() const noexcept { return stores_.size(); }

private:
    store_list stores_;
};

} // namespace utils
