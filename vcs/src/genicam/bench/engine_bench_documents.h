#pragma once
// Loading descriptions for the engine benchmarks, with the engine's log kept
// out of the benchmark report, and an in-memory register port.

#include "genicam/genicam_doc.h"
#include "genicam/idevice_port.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

namespace genicam_bench {

// While alive, standard output (where the engine logs) goes to the null
// device. The engine still formats and writes every line.
class quiet_stdout {
public:
    quiet_stdout();
    ~quiet_stdout();
    quiet_stdout(const quiet_stdout&) = delete;
    quiet_stdout& operator=(const quiet_stdout&) = delete;

private:
    int saved_ = -1;
};

// A loaded document, or none when the text does not load.
std::unique_ptr<GenICam::impl::genicam_doc> load_document(std::string_view xml);

// Device memory of 64 KiB at address 0 that counts its calls.
class memory_port final : public GenICam::IDevicePort {
public:
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                          std::uint32_t flags) override;

    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(0x10000);

private:
    bool in_range(std::uint64_t address, std::int64_t length) const noexcept;
};

} // namespace genicam_bench
