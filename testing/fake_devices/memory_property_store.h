#pragma once
// A property store held in memory, for device records that carry one.

#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <variant>

#include "properties/property_store.h"

namespace fake_devices {

class memory_property_store final : public utils::property_store_itf {
public:
    // An integer read of this name throws std::bad_alloc, as a failed
    // allocation on the caller's path would.
    void throw_on_int_read(std::wstring name)
    {
        std::lock_guard lock(mutex_);
        throw_on_read_ = std::move(name);
    }

    bool read_int(std::wstring_view name, std::int64_t& value) override
    {
        std::lock_guard lock(mutex_);
        if (!throw_on_read_.empty() && name == throw_on_read_) {
            throw std::bad_alloc();
        }
        const auto found = values_.find(std::wstring(name));
        if (found == values_.end() || !std::holds_alternative<std::int64_t>(found->second)) {
            return false;
        }
        value = std::get<std::int64_t>(found->second);
        return true;
    }
    bool read_string(std::wstring_view name, std::wstring& value) override
    {
        std::lock_guard lock(mutex_);
        const auto found = values_.find(std::wstring(name));
        if (found == values_.end() || !std::holds_alternative<std::wstring>(found->second)) {
            return false;
        }
        value = std::get<std::wstring>(found->second);
        return true;
    }
    bool write_int(std::wstring_view name, std::int64_t value) override
    {
        std::lock_guard lock(mutex_);
        values_[std::wstring(name)] = value;
        return true;
    }
    bool write_string(std::wstring_view name, std::wstring_view value) override
    {
        std::lock_guard lock(mutex_);
        values_[std::wstring(name)] = std::wstring(value);
        return true;
    }
    bool remove(std::wstring_view name) override
    {
        std::lock_guard lock(mutex_);
        return values_.erase(std::wstring(name)) != 0;
    }
    int value_kind(std::wstring_view name) override
    {
        std::lock_guard lock(mutex_);
        const auto found = values_.find(std::wstring(name));
        if (found == values_.end()) {
            return none;
        }
        return std::holds_alternative<std::wstring>(found->second) ? string : integer;
    }

private:
    std::mutex mutex_;
    std::map<std::wstring, std::variant<std::int64_t, std::wstring>> values_;
    std::wstring throw_on_read_;
};

} // namespace fake_devices
