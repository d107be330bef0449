// Opens a GenCP port over a device served from the fuzz input: its limits,
// the manifest table and the file it names (often a zip archive), and
// acknowledges that the input may bend (status, ids, length) or replace with
// raw bytes altogether. Every byte the port hands out is read, so that a copy
// beyond what the device sent shows up under ASan.
//
// Input: flags u8 (bit 0: raw acknowledges), max_read_size u16,
// max_write_size u16, bend u8, table length u16, table bytes (at 0x1000), the
// rest the file region (at 0x100000).

#include "device_impl/u3v/gencp_port.h"
#include "device_impl/u3v/gencp_protocol.h"
#include "device_impl/u3v/manifest_fetch.h"
#include "device_impl/u3v/zip_extract.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace {

using namespace u3v_com;

class hresult_category final : public std::error_category {
public:
    const char* name() const noexcept override { return "fuzz HRESULT"; }
    std::string message(int) const override { return "HRESULT"; }
};

const hresult_category category;

constexpr std::uint64_t table_address = 0x1000;
constexpr std::uint64_t file_address = 0x100000;

class input_device final : public gencp_transfer {
public:
    input_device(const std::uint8_t* data, std::size_t size) : in_(data, size) {}

    bool parse()
    {
        if (in_.size() < 8) {
            return false;
        }
        flags_ = in_[0];
        max_read_ = load_le<std::uint16_t>(&in_[1]);
        max_write_ = load_le<std::uint16_t>(&in_[3]);
        bend_ = in_[5];
        const std::size_t table_size = std::min<std::size_t>(load_le<std::uint16_t>(&in_[6]), in_.size() - 8);
        table_ = in_.subspan(8, table_size);
        file_ = in_.subspan(8 + table_size);
        raw_ = file_; // raw acknowledges come from the same bytes
        return true;
    }

    std::span<const std::uint8_t> file() const { return file_; }

    std::error_code control_out(std::uint8_t request, std::span<const std::uint8_t> data) override
    {
        ack_.clear();
        if (request != request_command || data.size() < readmem_command_size) {
            return {};
        }
        const ack_header command = parse_ack_header(data);
        const std::uint64_t address = load_le<std::uint64_t>(data.data() + 12);
        std::uint16_t status = 0x8006; // writes are refused
        std::vector<std::uint8_t> payload;
        if (command.command_id == command_readmem) {
            const std::uint16_t length = load_le<std::uint16_t>(data.data() + 22);
            status = read(address, length, payload) ? 0 : 0x8003;
        }
        ++count_;
        if ((bend_ & 0x80) != 0 && count_ % ((bend_ & 7) + 1) == 0) {
            switch ((bend_ >> 3) & 3) {
            case 0: status = static_cast<std::uint16_t>(0x8000 | bend_); break;
            case 1: status = 1; break;
            case 2: payload.resize(payload.size() / 2); break;
            default: break;
            }
        }
        const std::uint16_t request_id =
            static_cast<std::uint16_t>(command.request_id + (((bend_ >> 5) & 3) == 3 ? 1 : 0));
        ack_.assign(prefix_size, 0);
        store_le<std::uint32_t>(ack_.data(), gencp_prefix);
        store_le<std::uint16_t>(ack_.data() + 4, status);
        store_le<std::uint16_t>(ack_.data() + 6, static_cast<std::uint16_t>(command.command_id + 1));
        store_le<std::uint16_t>(ack_.data() + 8, static_cast<std::uint16_t>(payload.size()));
        store_le<std::uint16_t>(ack_.data() + 10, request_id);
        ack_.insert(ack_.end(), payload.begin(), payload.end());
        return {};
    }

    std::error_code control_in(std::uint8_t request, std::span<std::uint8_t> data) override
    {
        std::span<const std::uint8_t> answer;
        std::uint8_t limit[4];
        if (request == request_max_read_size || request == request_max_write_size) {
            store_le<std::uint32_t>(limit, request == request_max_read_size ? max_read_ : max_write_);
            answer = limit;
        } else if ((flags_ & 1) != 0) {
            const std::size_t n = std::min(raw_.size(), data.size());
            answer = raw_.first(n);
            raw_ = raw_.subspan(n);
        } else {
            answer = ack_;
        }
        std::memcpy(data.data(), answer.data(), std::min(answer.size(), data.size()));
        return {};
    }

private:
    bool read(std::uint64_t address, std::size_t length, std::vector<std::uint8_t>& out) const
    {
        std::uint8_t reg[8] = {};
        std::span<const std::uint8_t> region;
        std::uint64_t base = 0;
        if (address >= 0x184 && address < 0x184 + 64) {
            static const std::uint8_t name[64] = {'F', 'u', 'z', 'z'};
            region = name;
            base = 0x184;
        } else if (address == 0x1C4) {
            store_le<std::uint32_t>(reg, 1);
            region = std::span<const std::uint8_t>(reg, 4);
            base = 0x1C4;
        } else if (address == reg_manifest_table_address) {
            store_le<std::uint64_t>(reg, table_address);
            region = reg;
            base = address;
        } else if (address >= table_address && address < file_address) {
            region = table_;
            base = table_address;
        } else if (address >= file_address) {
            region = file_;
            base = file_address;
        }
        const std::uint64_t offset = address - base;
        if (offset > region.size() || length > region.size() - offset) {
            return false;
        }
        out.assign(region.begin() + offset, region.begin() + offset + length);
        return true;
    }

    std::span<const std::uint8_t> in_;
    std::span<const std::uint8_t> table_;
    std::span<const std::uint8_t> file_;
    std::span<const std::uint8_t> raw_;
    std::vector<std::uint8_t> ack_;
    std::uint8_t flags_ = 0;
    std::uint32_t max_read_ = 0;
    std::uint32_t max_write_ = 0;
    std::uint8_t bend_ = 0;
    unsigned count_ = 0;
};

class fuzz_port final : public gencp_port {
public:
    explicit fuzz_port(genicam_file_cache& cache) : gencp_port(category, cache) {}
    std::error_code open(gencp_transfer& transfer) { return gencp_port::open(transfer); }
};

volatile unsigned sink;

void touch(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    sink = sink + sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    input_device device(data, size);
    if (!device.parse()) {
        return 0;
    }
    genicam_file_cache cache;
    fuzz_port port(cache);
    const std::error_code opened = port.open(device);
    touch(port.genicam_file());
    if (opened && !port.genicam_file().empty()) {
        __builtin_trap(); // a failed open hands out no file
    }
    if (port.max_read_size() > 12 && port.max_write_size() > 20) {
        std::uint8_t buffer[80];
        std::memset(buffer, 0xCC, sizeof buffer);
        std::uint64_t bytes_read = 0;
        port.read_memory(file_address, buffer, sizeof buffer, bytes_read);
        if (bytes_read > sizeof buffer) {
            __builtin_trap();
        }
        touch(buffer);
        port.write_memory(file_address, buffer, sizeof buffer);
    }
    // The archive reader on its own, over the file region as it stands.
    std::string name;
    std::vector<std::uint8_t> bytes;
    if (zip_extract_single_file(device.file().data(), device.file().size(), name, bytes)) {
        touch(bytes);
        if (bytes.size() > max_unzipped_size) {
            __builtin_trap();
        }
    }
    return 0;
}
