#pragma once
// A filter backend that counts every request on its way to another backend,
// by kind and, when asked, by property: what a property page costs in
// requests is the figure that stays the same from machine to machine.

#include "test_filter/filter_backend.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace page_bench {

enum class request_kind : std::size_t { ks_get, ks_set, ks_query, control_range, control_get, control_set };
inline constexpr std::size_t request_kind_count = 6;

inline const char* name_of(request_kind kind) noexcept
{
    constexpr const char* names[request_kind_count] = {"ks_get",      "ks_set",      "ks_query",
                                                       "ctl_range",   "ctl_get",     "ctl_set"};
    return names[static_cast<std::size_t>(kind)];
}

// Requests made so far, per kind.
struct request_counts {
    std::array<std::uint64_t, request_kind_count> by_kind{};

    std::uint64_t total() const noexcept
    {
        std::uint64_t sum = 0;
        for (const std::uint64_t n : by_kind) {
            sum += n;
        }
        return sum;
    }
    request_counts& operator+=(const request_counts& other) noexcept
    {
        for (std::size_t i = 0; i < request_kind_count; ++i) {
            by_kind[i] += other.by_kind[i];
        }
        return *this;
    }
    friend request_counts operator-(const request_counts& a, const request_counts& b) noexcept
    {
        request_counts d;
        for (std::size_t i = 0; i < request_kind_count; ++i) {
            d.by_kind[i] = a.by_kind[i] - b.by_kind[i];
        }
        return d;
    }
};

// One property as a request names it: the two DirectShow control interfaces
// under their standard property sets.
using request_key = std::pair<request_kind, cam::property_req_key>;

class counting_backend final : public test_filter::filter_backend {
public:
    explicit counting_backend(std::shared_ptr<test_filter::filter_backend> inner) : inner_(std::move(inner)) {}

    request_counts counts() const noexcept
    {
        request_counts c;
        for (std::size_t i = 0; i < request_kind_count; ++i) {
            c.by_kind[i] = counts_[i].load(std::memory_order_relaxed);
        }
        return c;
    }

    // From now on every request is also counted under its property.
    void start_recording()
    {
        const std::lock_guard lock(keys_guard_);
        keys_.clear();
        recording_ = true;
    }
    std::map<request_key, std::uint64_t> stop_recording()
    {
        const std::lock_guard lock(keys_guard_);
        recording_ = false;
        return std::exchange(keys_, {});
    }

    HRESULT ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                   DWORD data_length) override
    {
        count(request_kind::ks_set, set, id);
        return inner_->ks_set(set, id, instance, instance_length, data, data_length);
    }
    HRESULT ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data, DWORD data_length,
                   DWORD* returned) override
    {
        count(request_kind::ks_get, set, id);
        return inner_->ks_get(set, id, instance, instance_length, data, data_length, returned);
    }
    HRESULT ks_query_supported(REFGUID set, DWORD id, DWORD* support) override
    {
        count(request_kind::ks_query, set, id);
        return inner_->ks_query_supported(set, id, support);
    }
    HRESULT control_range(test_filter::control_interface which, LONG property, LONG* minimum, LONG* maximum,
                          LONG* step, LONG* default_value, LONG* flags) override
    {
        count(request_kind::control_range, set_of(which), static_cast<DWORD>(property));
        return inner_->control_range(which, property, minimum, maximum, step, default_value, flags);
    }
    HRESULT control_get(test_filter::control_interface which, LONG property, LONG* value, LONG* flags) override
    {
        count(request_kind::control_get, set_of(which), static_cast<DWORD>(property));
        return inner_->control_get(which, property, value, flags);
    }
    HRESULT control_set(test_filter::control_interface which, LONG property, LONG value, LONG flags) override
    {
        count(request_kind::control_set, set_of(which), static_cast<DWORD>(property));
        return inner_->control_set(which, property, value, flags);
    }

private:
    static GUID set_of(test_filter::control_interface which) noexcept
    {
        return which == test_filter::control_interface::video_proc_amp ? cam::PROPSETID_VIDCAP_VIDEOPROCAMP
                                                                       : cam::PROPSETID_VIDCAP_CAMERACONTROL;
    }
    void count(request_kind kind, REFGUID set, DWORD id)
    {
        counts_[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
        const std::lock_guard lock(keys_guard_);
        if (recording_) {
            ++keys_[{kind, cam::property_req_key{set, id}}];
        }
    }

    std::shared_ptr<test_filter::filter_backend> inner_;
    std::array<std::atomic<std::uint64_t>, request_kind_count> counts_{};
    std::mutex keys_guard_;
    bool recording_ = false;                        // guarded by keys_guard_
    std::map<request_key, std::uint64_t> keys_;     // guarded by keys_guard_
};

} // namespace page_bench
