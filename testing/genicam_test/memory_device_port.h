#pragma once
// An in-memory device for tests of documents bound to a register port (the
// engine's and those of its users): 8 KiB of bytes at addresses 0 to
// 0x1FFF that counts its calls, remembers the thread of each and can be told
// to fail.

#include "genicam/genicam_doc.h"
#include "genicam/idevice_port.h"
#include "genicam/iport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace genicam_test {

class memory_device_port final : public GenICam::IDevicePort {
public:
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t) override
    {
        ++reads;
        threads.push_back(std::this_thread::get_id());
        if (const std::error_code e = check(address, length, fail_reads)) {
            return e;
        }
        std::memcpy(buffer, memory.data() + address, static_cast<std::size_t>(length));
        return {};
    }
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t) override
    {
        ++writes;
        threads.push_back(std::this_thread::get_id());
        last_write_length = length;
        if (const std::error_code e = check(address, length, fail_writes)) {
            return e;
        }
        std::memcpy(memory.data() + address, data, static_cast<std::size_t>(length));
        return {};
    }

    void put(std::uint64_t address, std::initializer_list<std::uint8_t> bytes)
    {
        std::copy(bytes.begin(), bytes.end(), memory.begin() + static_cast<std::ptrdiff_t>(address));
    }
    std::vector<std::uint8_t> get(std::uint64_t address, std::size_t count) const
    {
        return {memory.begin() + static_cast<std::ptrdiff_t>(address),
                memory.begin() + static_cast<std::ptrdiff_t>(address + count)};
    }
    int calls() const { return reads + writes; }

    std::array<std::uint8_t, 0x2000> memory{};
    int reads = 0;
    int writes = 0;
    std::int64_t last_write_length = -1;
    bool fail_reads = false;
    bool fail_writes = false;
    std::vector<std::thread::id> threads;

private:
    std::error_code check(std::uint64_t address, std::int64_t length, bool fail) const
    {
        if (fail) {
            return GenICam::make_error_code(GenICam::errc::device_lost);
        }
        if (length < 0 || address > memory.size() || static_cast<std::uint64_t>(length) > memory.size() - address) {
            return GenICam::make_error_code(GenICam::errc::invalid_address);
        }
        return {};
    }
};

// Binds the device to the document's "Device" port.
inline void bind_device(GenICam::impl::genicam_doc& doc, memory_device_port& device)
{
    GenICam::IPort* port = doc.find_port("");
    ASSERT_NE(port, nullptr);
    ASSERT_FALSE(port->bind(&device));
}

inline constexpr const char* device_port = R"(<Port Name="Device"/>)";

} // namespace genicam_test
