#pragma once
// A filter backend that answers from a script the test sets: per (set, id)
// the bytes a Get copies out, the HRESULTs of Get, Set and QuerySupported,
// the support mask and a bytes-returned count that differs from the bytes
// copied (short replies); per control property its value, flags and range.
// Keys without a script answer E_NOTIMPL, as the service does. Every call is
// recorded. Answers that need the request (named access, documents) come from
// responders. Calls may come from any thread: the script, the record of calls
// and every exchange run under `lock_`.

#include "test_filter/filter_backend.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace test_filter {

struct property_key {
    GUID set{};
    DWORD id = 0;
    friend bool operator<(const property_key& a, const property_key& b) noexcept
    {
        const int order = std::memcmp(&a.set, &b.set, sizeof(GUID));
        return order != 0 ? order < 0 : a.id < b.id;
    }
};

struct scripted_property {
    std::vector<std::uint8_t> value;
    HRESULT get_result = S_OK;
    HRESULT set_result = S_OK;
    HRESULT query_result = S_OK;
    DWORD support = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
    // Reported by Get instead of the count of bytes it copied.
    std::optional<DWORD> reply_length;

    static scripted_property answering(std::vector<std::uint8_t> value, HRESULT result = S_OK)
    {
        scripted_property property;
        property.value = std::move(value);
        property.get_result = result;
        property.set_result = result;
        return property;
    }
    static scripted_property failing(HRESULT result) { return answering({}, result); }
    static scripted_property supporting(DWORD support, HRESULT query_result = S_OK)
    {
        scripted_property property;
        property.support = support;
        property.query_result = query_result;
        return property;
    }
};

struct property_call {
    bool is_set = false;
    GUID set{};
    DWORD id = 0;
    std::vector<std::uint8_t> instance;
    // What a Set carried; empty for a Get.
    std::vector<std::uint8_t> data;
};

struct scripted_control {
    LONG value = 0;
    LONG flags = 2;
    LONG minimum = 0;
    LONG maximum = 100;
    LONG step = 1;
    LONG default_value = 0;
    LONG capabilities = 3;
    HRESULT get_result = S_OK;
    HRESULT set_result = S_OK;
    HRESULT range_result = S_OK;
};

// Answer to a Get: fills `data` (the caller's buffer) and the count.
using get_responder =
    std::function<HRESULT(std::span<const std::uint8_t> instance, std::span<std::uint8_t> data, DWORD& returned)>;
using set_responder =
    std::function<HRESULT(std::span<const std::uint8_t> instance, std::span<const std::uint8_t> data)>;

template <class Record>
std::vector<std::uint8_t> bytes_of(const Record& record)
{
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return {first, first + sizeof(Record)};
}

template <class Record>
Record record_of(std::span<const std::uint8_t> bytes)
{
    Record record{};
    std::memcpy(&record, bytes.data(), bytes.size() < sizeof(Record) ? bytes.size() : sizeof(Record));
    return record;
}

class scripted_backend final : public filter_backend {
public:
    void set_property(const GUID& set, DWORD id, scripted_property property);
    // A supported property whose Get answers `record`; a Set stores its data
    // as the new value.
    template <class Record>
    void set_record(const GUID& set, DWORD id, const Record& record)
    {
        set_property(set, id, scripted_property::answering(bytes_of(record)));
    }
    void respond_get(const GUID& set, DWORD id, get_responder responder);
    void respond_set(const GUID& set, DWORD id, set_responder responder);
    void set_control(control_interface which, LONG property, scripted_control control);

    std::optional<scripted_property> property(const GUID& set, DWORD id) const;
    std::optional<scripted_control> control(control_interface which, LONG property) const;
    std::vector<property_call> calls() const;
    // The Set calls of one key, in order.
    std::vector<property_call> sets_of(const GUID& set, DWORD id) const;
    void clear_calls();

    HRESULT ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                   DWORD data_length) override;
    HRESULT ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data, DWORD data_length,
                   DWORD* returned) override;
    HRESULT ks_query_supported(REFGUID set, DWORD id, DWORD* support) override;
    HRESULT control_range(control_interface which, LONG property, LONG* minimum, LONG* maximum, LONG* step,
                          LONG* default_value, LONG* flags) override;
    HRESULT control_get(control_interface which, LONG property, LONG* value, LONG* flags) override;
    HRESULT control_set(control_interface which, LONG property, LONG value, LONG flags) override;

private:
    mutable std::mutex lock_;
    std::map<property_key, scripted_property> properties_;                    // guarded by lock_
    std::map<property_key, get_responder> get_responders_;                    // guarded by lock_
    std::map<property_key, set_responder> set_responders_;                    // guarded by lock_
    std::map<std::pair<control_interface, LONG>, scripted_control> controls_; // guarded by lock_
    std::vector<property_call> calls_;                                        // guarded by lock_
};

} // namespace test_filter
