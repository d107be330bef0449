#include "sim_gencp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sim_camera {
namespace {

constexpr std::uint8_t request_command = 0x30;
constexpr std::uint8_t request_max_read_size = 0x23;
constexpr std::uint8_t request_max_write_size = 0x22;
constexpr std::uint32_t prefix = 0x43563355; // "U3VC"
constexpr std::uint16_t readmem = 0x0800;
constexpr std::uint16_t writemem = 0x0802;
constexpr std::uint16_t not_implemented = 0x8001;
constexpr std::uint16_t invalid_header = 0x800E;

constexpr std::uint64_t reg_user_defined_name = 0x184;
constexpr std::uint64_t reg_device_capability = 0x1C4;
constexpr std::uint64_t reg_manifest_table = 0x1D0;

template <typename T>
T load(const std::uint8_t* at)
{
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) {
        value = static_cast<T>((value << 8) | at[i]);
    }
    return value;
}

template <typename T>
void store(std::uint8_t* at, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

template <typename T>
bytes le(T value)
{
    bytes out(sizeof(T));
    store(out.data(), value);
    return out;
}

} // namespace

struct gencp_responder::state {
    mutable std::mutex lock;
    register_map registers;
    std::uint32_t max_read_size = 600;
    std::uint32_t max_write_size = 600;
    std::optional<bytes> pending_ack;
    std::size_t ack_sent_limit = SIZE_MAX; // bytes of the acknowledge really sent
    bool stall_ack = false;
    std::vector<gencp_fault> faults;
    std::vector<gencp_command> log;
    bool recording = true; // guarded by lock
    std::vector<std::uint64_t> file_addresses; // registers of the current manifest's files
    std::map<std::uint64_t, write_hook> write_hooks;
    std::map<std::uint64_t, read_hook> read_hooks;

    std::optional<control_reply> answer(const control_setup& setup, std::span<std::uint8_t> data);
    void take_command(std::span<const std::uint8_t> command);
    gencp_fault* matching_fault(std::uint16_t command_id, std::uint64_t address);
};

gencp_fault* gencp_responder::state::matching_fault(std::uint16_t command_id, std::uint64_t address)
{
    for (auto& fault : faults) {
        if (fault.count == 0 || (fault.address && *fault.address != address) ||
            (fault.command_id && *fault.command_id != command_id)) {
            continue;
        }
        if (fault.count > 0) {
            --fault.count;
        }
        return &fault;
    }
    return nullptr;
}

void gencp_responder::state::take_command(std::span<const std::uint8_t> command)
{
    std::uint16_t status = gencp_success;
    std::uint16_t command_id = 0;
    std::uint16_t request_id = 0;
    std::uint64_t address = 0;
    bytes ack_data;
    if (command.size() < 12 || load<std::uint32_t>(command.data()) != prefix) {
        status = invalid_header;
        if (command.size() >= 12) {
            command_id = load<std::uint16_t>(command.data() + 6);
            request_id = load<std::uint16_t>(command.data() + 10);
        }
    } else {
        command_id = load<std::uint16_t>(command.data() + 6);
        request_id = load<std::uint16_t>(command.data() + 10);
        gencp_command seen{command_id, request_id, 0, 0, command.size()};
        if (command_id == readmem && command.size() >= 24) {
            address = load<std::uint64_t>(command.data() + 12);
            seen.address = address;
            seen.length = load<std::uint16_t>(command.data() + 22);
            ack_data.assign(seen.length, 0);
            status = registers.read(address, ack_data);
        } else if (command_id == writemem && command.size() >= 20) {
            address = load<std::uint64_t>(command.data() + 12);
            seen.address = address;
            seen.length = static_cast<std::uint32_t>(command.size() - 20);
            status = registers.write(address, command.subspan(20));
            if (status == gencp_success) {
                if (const auto hook = write_hooks.find(address); hook != write_hooks.end()) {
                    hook->second(command.subspan(20));
                }
            }
            ack_data = le<std::uint32_t>(status == gencp_success ? seen.length << 16 : 0); // reserved, bytes written
        } else {
            status = (command_id == readmem || command_id == writemem) ? invalid_header : not_implemented;
        }
        if (recording) {
            log.push_back(seen);
        }
    }
    if (status != gencp_success && command_id == readmem) {
        ack_data.clear();
    }
    std::uint16_t ack_id = static_cast<std::uint16_t>(command_id + 1);
    stall_ack = false;
    ack_sent_limit = SIZE_MAX;
    if (gencp_fault* fault = matching_fault(command_id, address)) {
        if (fault->status) {
            status = *fault->status;
            if (command_id == readmem && (status & 0x8000) != 0) {
                ack_data.clear();
            }
        }
        request_id = static_cast<std::uint16_t>(request_id + fault->request_id_offset);
        ack_id = static_cast<std::uint16_t>(ack_id + fault->command_id_offset);
        if (fault->ack_length && *fault->ack_length < ack_data.size()) {
            ack_data.resize(*fault->ack_length);
        }
        stall_ack = fault->stall;
        if (fault->sent_length) {
            ack_sent_limit = 12 + std::size_t{*fault->sent_length};
        }
    }
    bytes ack(12 + ack_data.size());
    store(ack.data(), prefix);
    store(ack.data() + 4, status);
    store(ack.data() + 6, ack_id);
    store(ack.data() + 8, static_cast<std::uint16_t>(ack_data.size()));
    store(ack.data() + 10, request_id);
    std::copy(ack_data.begin(), ack_data.end(), ack.begin() + 12);
    pending_ack = std::move(ack);
}

std::optional<control_reply> gencp_responder::state::answer(const control_setup& setup, std::span<std::uint8_t> data)
{
    if (!setup.vendor || setup.recipient != 0) {
        return std::nullopt;
    }
    if (!setup.device_to_host && setup.request == request_command && data.size() >= 24 &&
        load<std::uint16_t>(data.data() + 6) == readmem) {
        read_hook hook;
        {
            std::lock_guard guard(lock);
            if (const auto found = read_hooks.find(load<std::uint64_t>(data.data() + 12));
                found != read_hooks.end()) {
                hook = found->second;
            }
        }
        if (hook) {
            hook();
        }
    }
    std::lock_guard guard(lock);
    if (setup.device_to_host && (setup.request == request_max_read_size || setup.request == request_max_write_size)) {
        const bytes value = le<std::uint32_t>(setup.request == request_max_read_size ? max_read_size : max_write_size);
        const std::size_t n = std::min(value.size(), data.size());
        std::copy_n(value.begin(), n, data.begin());
        return control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(n), false};
    }
    if (setup.request != request_command) {
        return std::nullopt;
    }
    if (!setup.device_to_host) {
        take_command(data);
        return control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(data.size()), false};
    }
    if (stall_ack) {
        return control_reply{USBD_STATUS_SUCCESS, 0, true};
    }
    if (!pending_ack) {
        return control_reply{USBD_STATUS_STALL_PID, 0, false}; // no command to acknowledge
    }
    const std::size_t n = std::min({pending_ack->size(), data.size(), ack_sent_limit});
    std::copy_n(pending_ack->begin(), n, data.begin());
    pending_ack.reset();
    return control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(n), false};
}

gencp_responder::gencp_responder(camera& cam) : state_(std::make_shared<state>())
{
    bytes name(64, 0);
    const std::string default_name = "SimCam-1";
    std::copy(default_name.begin(), default_name.end(), name.begin());
    state_->registers.add(reg_user_defined_name, name, true);
    state_->registers.add(reg_device_capability, le<std::uint64_t>(1), true);
    state_->registers.add(reg_manifest_table, le<std::uint64_t>(manifest_table_address), true);
    state_->registers.add(reg_device_user_id, bytes(16, 0), false);
    state_->registers.add(reg_width, le<std::uint32_t>(640), false);
    state_->registers.add(reg_acquisition_start, bytes(4, 0), false);
    state_->registers.add(reg_acquisition_stop, bytes(4, 0), false);
    state_->registers.add(reg_chunk_mode_active, bytes(4, 0), false);
    // Exposure 10 ms, gain 0 dB, auto modes off, strobe off for 100 us with
    // no delay, input low.
    state_->registers.add(reg_exposure_time, le<std::uint32_t>(0x461C4000), false); // 10000.0f
    state_->registers.add(reg_exposure_auto, bytes(4, 0), false);
    state_->registers.add(reg_gain, bytes(4, 0), false);
    state_->registers.add(reg_gain_raw_hidden, bytes(4, 0), false);
    state_->registers.add(reg_gain_auto, bytes(4, 0), false);
    state_->registers.add(reg_strobe_enable, bytes(4, 0), false);
    state_->registers.add(reg_strobe_polarity, bytes(4, 0), false);
    state_->registers.add(reg_strobe_operation, bytes(4, 0), false);
    state_->registers.add(reg_strobe_duration, le<std::uint32_t>(100), false);
    state_->registers.add(reg_strobe_delay, bytes(4, 0), false);
    state_->registers.add(reg_gp_in, bytes(4, 0), true);
    state_->registers.add(reg_gp_out, bytes(4, 0), false);
    set_manifest({description_entry(0x5EED)});
    cam.add_control_handler([held = state_](const control_setup& setup, std::span<std::uint8_t> data) {
        return held->answer(setup, data);
    });
}

void gencp_responder::set_limits(std::uint32_t max_read_size, std::uint32_t max_write_size)
{
    std::lock_guard guard(state_->lock);
    state_->max_read_size = max_read_size;
    state_->max_write_size = max_write_size;
}

void gencp_responder::set_user_defined_name(const std::string& name, bool present)
{
    bytes value(64, 0);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 64), value.begin());
    std::lock_guard guard(state_->lock);
    state_->registers.add(reg_user_defined_name, value, true);
    state_->registers.add(reg_device_capability, le<std::uint64_t>(present ? 1 : 0), true);
}

void gencp_responder::set_manifest(std::vector<manifest_file> files, std::optional<std::uint64_t> count)
{
    std::lock_guard guard(state_->lock);
    for (const std::uint64_t address : state_->file_addresses) {
        state_->registers.remove(address);
    }
    state_->file_addresses.clear();
    bytes table = le<std::uint64_t>(count.value_or(files.size()));
    std::uint64_t next = manifest_files_address;
    for (const manifest_file& file : files) {
        const std::uint64_t at = next;
        if (!file.content.empty()) {
            state_->registers.add(at, file.content, true);
            state_->file_addresses.push_back(at);
            next = (at + file.content.size() + 0xFFFF) & ~std::uint64_t{0xFFFF};
        }
        bytes entry(64, 0);
        store(entry.data(), file.version);
        store(entry.data() + 4, static_cast<std::uint32_t>((1u << 24) | (1u << 16) | ((file.type & 0x3F) << 10)));
        store(entry.data() + 8, file.address.value_or(at));
        store(entry.data() + 16, file.size.value_or(file.content.size()));
        std::copy(file.hash.begin(), file.hash.end(), entry.begin() + 24);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    state_->registers.add(manifest_table_address, table, true);
}

void gencp_responder::set_table_address(std::uint64_t address)
{
    std::lock_guard guard(state_->lock);
    state_->registers.add(reg_manifest_table, le<std::uint64_t>(address), true);
}

void gencp_responder::add_fault(const gencp_fault& fault)
{
    std::lock_guard guard(state_->lock);
    state_->faults.push_back(fault);
}

void gencp_responder::clear_faults()
{
    std::lock_guard guard(state_->lock);
    state_->faults.clear();
}

bytes gencp_responder::peek(std::uint64_t address, std::size_t length) const
{
    bytes out(length, 0);
    std::lock_guard guard(state_->lock);
    if (state_->registers.read(address, out) != gencp_success) {
        out.clear();
    }
    return out;
}

void gencp_responder::poke(std::uint64_t address, const bytes& value)
{
    std::lock_guard guard(state_->lock);
    state_->registers.write(address, value);
}

void gencp_responder::add_register(std::uint64_t address, bytes value, bool read_only)
{
    std::lock_guard guard(state_->lock);
    state_->registers.add(address, std::move(value), read_only);
}

void gencp_responder::on_register_read(std::uint64_t address, read_hook hook)
{
    std::lock_guard guard(state_->lock);
    if (hook) {
        state_->read_hooks[address] = std::move(hook);
    } else {
        state_->read_hooks.erase(address);
    }
}

void gencp_responder::on_register_write(std::uint64_t address, write_hook hook)
{
    std::lock_guard guard(state_->lock);
    state_->write_hooks[address] = std::move(hook);
}

std::vector<gencp_command> gencp_responder::commands() const
{
    std::lock_guard guard(state_->lock);
    return state_->log;
}

void gencp_responder::set_recording(bool on)
{
    std::lock_guard guard(state_->lock);
    state_->recording = on;
}

std::size_t gencp_responder::readmem_count(std::uint64_t address, std::uint64_t length) const
{
    std::lock_guard guard(state_->lock);
    return static_cast<std::size_t>(std::count_if(state_->log.begin(), state_->log.end(), [&](const gencp_command& c) {
        return c.command_id == readmem && c.address < address + length && address < c.address + c.length;
    }));
}

manifest_file gencp_responder::description_entry(std::uint32_t tag, bool zipped)
{
    manifest_file file;
    file.type = zipped ? 1 : 0;
    file.content = zipped ? zip_archive({{"CamTovraSim_GenICam.xml", description_xml_bytes()}})
                          : description_xml_bytes();
    for (std::size_t i = 0; i < file.hash.size(); ++i) {
        file.hash[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
    }
    store(file.hash.data(), tag);
    file.hash[4] = zipped ? 1 : 0;
    return file;
}

} // namespace sim_camera
