#pragma once
// The property side of a test camera: a handler registry under one request
// lock, driven the way the active camera device and the camera base drive
// theirs. Tests register handlers on it and hand it to a fake camera record;
// every device opened from that record answers Get, Set and QuerySupported
// through it, loading the handlers' values from the registry's store when it
// opens and saving them when it goes away.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"

namespace fake_devices {

class request_registry final : public gen_property::gen_property_reqistry {
public:
    explicit request_registry(std::shared_ptr<utils::property_store_itf> store = nullptr);

    // Held around every request; take it too when touching handlers from a test.
    std::mutex& request_mutex() noexcept { return request_mutex_; }

    // Registers `handler` under every key at `level` and keeps it alive as long
    // as the registry.
    cam::property_req_entry_itf& add_handler(std::unique_ptr<cam::property_req_entry_itf> handler,
                                             std::span<const cam::property_req_key> keys,
                                             unsigned level = cam::level_base);

    // The active device's property operations. The two standard video sets
    // travel as a range request and a value request merged into the 48-byte
    // record; every other set is one request at level 2.
    HRESULT set_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size);
    HRESULT get_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size, std::uint32_t* returned);
    // 3 when a handler supports get or set, else E_NOTIMPL.
    HRESULT query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support);

private:
    HRESULT get_standard(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                         unsigned char* data, std::uint32_t data_size, std::uint32_t* returned);
    HRESULT set_standard(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                         const unsigned char* data, std::uint32_t data_size);

    std::mutex request_mutex_;
    std::vector<std::unique_ptr<cam::property_req_entry_itf>> handlers_;
};

} // namespace fake_devices
