#include "device_impl/u3v/gencp_port.h"

#include "device_impl/u3v/exchange_buffer.h"
#include "device_impl/u3v/gencp_protocol.h"
#include "device_impl/u3v/manifest_fetch.h"
#include "gen_utils/log.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace u3v_com {
namespace {

// Commands and acknowledges up to this size need no heap.
constexpr std::size_t inline_exchange = 128;

constexpr std::uint32_t control_trace = logging::level_trace | logging::cat_control_channel;

bool overflows(std::uint64_t address, std::uint64_t length) noexcept
{
    return length > std::numeric_limits<std::uint64_t>::max() - address;
}

} // namespace

gencp_port::gencp_port(const std::error_category& protocol_category, genicam_file_cache& cache)
    : category_(protocol_category), cache_(&cache)
{
}

std::uint16_t gencp_port::next_request_id() noexcept
{
    ++request_id_;
    if (request_id_ == 0) {
        request_id_ = 1;
    }
    return request_id_;
}

std::error_code gencp_port::readmem_exchange(std::uint64_t address, std::uint8_t* buffer, std::uint32_t length,
                                             std::uint32_t& bytes_read)
{
    bytes_read = 0;
    std::lock_guard lock(exchange_lock_);
    const std::uint16_t id = next_request_id();
    std::array<std::uint8_t, readmem_command_size> command{};
    build_readmem(command, id, address, static_cast<std::uint16_t>(length));
    if (const std::error_code ec = transfer_->control_out(request_command, command)) {
        return ec;
    }
    exchange_buffer<inline_exchange> ack;
    if (!ack.resize(std::size_t{length} + prefix_size)) {
        return protocol_error(hr::insufficient_buffer);
    }
    ack_header header;
    if (const std::error_code ec = receive_ack(ack.span(), id, header)) {
        return ec;
    }
    if (!ack_matches(header, ack_readmem, id)) {
        log_line(logging::level_error,
                 "[CamTovra] Received ack with status={:x}, command_id={:#x}, req_id={}, (expected: "
                 "command_id={:#x}, req_id={}).\n",
                 header.status, header.command_id, header.request_id, ack_readmem, id);
        return mismatch_error(header, ack_readmem, id);
    }
    // Never more than was asked for, whatever length the device claims; bytes
    // it claims but did not send read as zero.
    bytes_read = std::min<std::uint32_t>(header.length, length);
    std::memcpy(buffer, ack.data() + prefix_size, bytes_read);
    return {};
}

std::error_code gencp_port::writemem_exchange(std::uint64_t address, const std::uint8_t* data, std::uint32_t length)
{
    std::lock_guard lock(exchange_lock_);
    const std::uint16_t id = next_request_id();
    exchange_buffer<inline_exchange> command;
    if (!command.resize(std::size_t{length} + writemem_header_size)) {
        return protocol_error(hr::insufficient_buffer);
    }
    build_writemem_header(command.span().first<writemem_header_size>(), id, address,
                          static_cast<std::uint16_t>(length));
    if (length != 0) {
        std::memcpy(command.data() + writemem_header_size, data, length);
    }
    if (const std::error_code ec = transfer_->control_out(request_command, command.span())) {
        return ec;
    }
    std::array<std::uint8_t, writemem_ack_size> ack{};
    ack_header header;
    if (const std::error_code ec = receive_ack(ack, id, header)) {
        return ec;
    }
    if (ack_matches(header, ack_writemem, id)) {
        return {};
    }
    log_line(logging::level_error,
             "[CamTovra] Received ack with, gencp_status={:x}, command_id={:#x}, req_id={}, (expected "
             "command_id={:#x}, req_id={}).\n",
             header.status, header.command_id, header.request_id, ack_writemem, id);
    return mismatch_error(header, ack_writemem, id);
}

std::error_code gencp_port::receive_ack(std::span<std::uint8_t> ack, std::uint16_t id, ack_header& header)
{
    for (unsigned discarded = 0;; ++discarded) {
        std::fill(ack.begin(), ack.end(), std::uint8_t{0}); // bytes the device does not send read as zero
        if (const std::error_code ec = transfer_->control_in(request_command, ack)) {
            return ec;
        }
        header = parse_ack_header(ack);
        if (header.request_id == id || !request_id_is_earlier(header.request_id, id) ||
            discarded == max_stale_acks) {
            return {};
        }
        log_line(logging::level_warning,
                 "[CamTovra] u3v_com::gencp_port::receive_ack, discarded the late ack of req_id={} "
                 "(command_id={:#x}) while waiting for req_id={}.\n",
                 header.request_id, header.command_id, id);
    }
}

std::error_code gencp_port::mismatch_error(const ack_header& header, std::uint16_t ack_id,
                                           std::uint16_t id) const noexcept
{
    // Only the command's own acknowledge says how it went: the status of any
    // other one is not this command's.
    if (header.command_id == ack_id && header.request_id == id) {
        return protocol_error(gencp_status_to_hresult(header.status));
    }
    return protocol_error(hr::fail);
}

std::error_code gencp_port::read_memory(std::uint64_t address, void* buffer, std::uint64_t length,
                                        std::uint64_t& bytes_read)
{
    bytes_read = 0;
    if (transfer_ == nullptr) {
        return protocol_error(hr::not_ready);
    }
    if (overflows(address, length)) {
        return protocol_error(hr::invalid_arg);
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint32_t chunk_limit = max_read_size_ - static_cast<std::uint32_t>(prefix_size);
    for (std::uint64_t done = 0; done < length;) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - done, chunk_limit));
        std::uint32_t got = 0;
        if (const std::error_code ec = readmem_exchange(address + done, out + done, chunk, got)) {
            return ec;
        }
        bytes_read += got;
        done += chunk;
    }
    return {};
}

std::error_code gencp_port::write_memory(std::uint64_t address, const void* data, std::uint64_t length)
{
    if (transfer_ == nullptr) {
        return protocol_error(hr::not_ready);
    }
    if (overflows(address, length)) {
        return protocol_error(hr::invalid_arg);
    }
    const auto* in = static_cast<const std::uint8_t*>(data);
    const std::uint32_t chunk_limit = max_write_size_ - static_cast<std::uint32_t>(writemem_header_size);
    for (std::uint64_t done = 0; done < length;) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - done, chunk_limit));
        if (const std::error_code ec = writemem_exchange(address + done, in + done, chunk)) {
            return ec;
        }
        done += chunk;
    }
    return {};
}

std::error_code gencp_port::read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t)
{
    std::error_code ec;
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        ec = protocol_error(hr::invalid_arg);
    } else {
        std::uint64_t bytes_read = 0;
        ec = read_memory(address, buffer, static_cast<std::uint64_t>(length), bytes_read);
        if (!ec && bytes_read < static_cast<std::uint64_t>(length)) {
            ec = protocol_error(hr::invalid_arg);
        }
    }
    if (length > 3 && buffer != nullptr) {
        log_line(control_trace, "U3V read, @address=0x{:x} len={}. data(int32)={:#x}, status={}.\n", address, length,
                 load_le<std::uint32_t>(static_cast<const std::uint8_t*>(buffer)), ec);
    } else {
        log_line(control_trace, "U3V read, @address=0x{:x} len={}, status={}.\n", address, length, ec);
    }
    return ec;
}

std::error_code gencp_port::write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t)
{
    if (length >= 4 && data != nullptr) {
        log_line(control_trace, ">> U3V write, @address=0x{:x} len={}. data(int32)=0x{:x}.\n", address, length,
                 load_le<std::uint32_t>(static_cast<const std::uint8_t*>(data)));
    } else {
        log_line(control_trace, ">> U3V write, @address=0x{:x} len={}.\n", address, length);
    }
    if (length < 0 || (length > 0 && data == nullptr)) {
        return protocol_error(hr::invalid_arg);
    }
    return write_memory(address, data, static_cast<std::uint64_t>(length));
}

outcome::std_result<std::string> gencp_port::read_user_defined_name()
{
    std::array<char, user_defined_name_size> text{};
    std::uint64_t bytes_read = 0;
    if (const std::error_code ec = read_memory(reg_user_defined_name, text.data(), text.size(), bytes_read)) {
        log_line(logging::level_trace,
                 "[CamTovra] u3v_com::u3v_kyv_comm::read_user_defined_name, failed to read user defined name due "
                 "to status=={}.\n",
                 ec);
        return ec;
    }
    const auto end = std::find(text.begin(), text.begin() + bytes_read, '\0');
    return std::string(text.begin(), end);
}

std::error_code gencp_port::read_size_register(std::uint8_t request, std::uint32_t& value)
{
    std::array<std::uint8_t, 4> bytes{};
    const std::error_code ec = transfer_->control_in(request, bytes);
    value = load_le<std::uint32_t>(bytes.data());
    return ec;
}

void gencp_port::read_capability_and_name()
{
    std::array<std::uint8_t, 4> caps{};
    std::uint64_t bytes_read = 0;
    if (read_memory(reg_device_capability, caps.data(), caps.size(), bytes_read) || bytes_read != caps.size()) {
        return; // the capability only decides whether a name is read
    }
    device_caps_ = load_le<std::uint32_t>(caps.data());
    log_line(logging::level_trace, "[CamTovra] U3V-Device caps={:#x}, encoding={}.\n", device_caps_,
             (device_caps_ >> 4) & 0xF);
    if ((device_caps_ & 1) != 0) {
        if (auto name = read_user_defined_name()) {
            log_line(logging::level_trace, "[CamTovra] U3V Device has user defined name={}.\n", name.value());
        }
    }
}

std::error_code gencp_port::open(gencp_transfer& transfer)
{
    transfer_ = &transfer;
    std::uint32_t read_size = 0;
    if (const std::error_code ec = read_size_register(request_max_read_size, read_size)) {
        log_line(logging::level_error,
                 "[CamTovra] Failed to read the max_read_size_ entry in the U3V interface, status={}", ec);
        return ec;
    }
    std::uint32_t write_size = 0;
    if (const std::error_code ec = read_size_register(request_max_write_size, write_size)) {
        log_line(logging::level_error,
                 "[CamTovra] Failed to read the max_write_size_ entry in the U3V interface, status={}", ec);
        return ec;
    }
    // An acknowledge needs room for its prefix and a command for prefix and
    // address, or no exchange would move a byte.
    if (read_size <= prefix_size || write_size <= writemem_header_size) {
        log_line(logging::level_error,
                 "[CamTovra] U3V dev, max_read_size={}, max_write_size={} leave no room for data.\n", read_size,
                 write_size);
        return protocol_error(hr::invalid_arg);
    }
    // The driver's data stage holds no more; a longer exchange would be cut.
    max_read_size_ = std::min(read_size, max_transfer_size);
    max_write_size_ = std::min(write_size, max_transfer_size);
    log_line(logging::level_trace, "[CamTovra] U3V dev, max_read_size={}, max_write_size={}.\n", max_read_size_,
             max_write_size_);
    read_capability_and_name();
    return fetch_manifest_files(*this);
}

} // namespace u3v_com
