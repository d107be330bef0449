#pragma once
// The simulated camera's USB3 Vision control channel: a GenCP responder on
// vendor requests 0x23 and 0x22 (the largest acknowledge and command, IN,
// 4 bytes), 0x30 OUT (a command) and 0x30 IN (the last command's
// acknowledge), over a register map holding the bootstrap registers, the
// manifest table, the files it lists and the registers of the camera's GenICam
// description. Faults are set per command on request.
//
// Register layout:
//   0x184   user-defined name (64 bytes, read-only)
//   0x1C4   device capability (8 bytes, read-only; bit 0: a name is present)
//   0x1D0   manifest table address (8 bytes, read-only)
//   0x10000 DeviceUserID (16 bytes)      0x10010 Width (4 bytes)
//   0x10020 AcquisitionStart (4 bytes)   0x10024 AcquisitionStop (4 bytes)
//   0x10030 ChunkModeActive (4 bytes)
//   0x10100 ExposureTime (f32)           0x10104 ExposureAuto (4 bytes)
//   0x10108 Gain (f32)                   0x1010C GainRawHidden (4 bytes)
//   0x10110 GainAuto (4 bytes)
//   0x10120 StrobeEnable (4 bytes)       0x10124 StrobePolarity (4 bytes)
//   0x10128 StrobeOperation (4 bytes)    0x1012C StrobeDuration (i32)
//   0x10130 StrobeDelay (i32)
//   0x10140 GPIn (4 bytes, read-only)    0x10144 GPOut (4 bytes)
//   manifest_table_address: u64 count, then 64-byte entries
//   manifest_files_address: the files, each on a 64 KiB boundary

#include "sim_camera.h"
#include "sim_register_map.h"
#include "sim_zip.h"

#include <array>
#include <functional>
#include <map>
#include <span>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim_camera {

inline constexpr std::uint64_t reg_device_user_id = 0x10000;
inline constexpr std::uint64_t reg_width = 0x10010;
inline constexpr std::uint64_t reg_acquisition_start = 0x10020;
inline constexpr std::uint64_t reg_acquisition_stop = 0x10024;
inline constexpr std::uint64_t reg_chunk_mode_active = 0x10030;
inline constexpr std::uint64_t reg_exposure_time = 0x10100;
inline constexpr std::uint64_t reg_exposure_auto = 0x10104;
inline constexpr std::uint64_t reg_gain = 0x10108;
inline constexpr std::uint64_t reg_gain_raw_hidden = 0x1010C;
inline constexpr std::uint64_t reg_gain_auto = 0x10110;
inline constexpr std::uint64_t reg_strobe_enable = 0x10120;
inline constexpr std::uint64_t reg_strobe_polarity = 0x10124;
inline constexpr std::uint64_t reg_strobe_operation = 0x10128;
inline constexpr std::uint64_t reg_strobe_duration = 0x1012C;
inline constexpr std::uint64_t reg_strobe_delay = 0x10130;
inline constexpr std::uint64_t reg_gp_in = 0x10140;
inline constexpr std::uint64_t reg_gp_out = 0x10144;
inline constexpr std::uint64_t manifest_table_address = 0x100000;
inline constexpr std::uint64_t manifest_files_address = 0x200000;

// The camera's GenICam description as checked in, and the same file zipped
// by another tool (Python's zipfile).
const bytes& description_xml_bytes();
const bytes& description_zip_by_other_tool_bytes();

using sha1_bytes = std::array<std::uint8_t, 20>;

struct manifest_file {
    std::uint32_t version = 0x01000000;
    std::uint32_t type = 0; // 0 XML, 1 zip archive; any value is written
    bytes content;
    sha1_bytes hash{};
    std::optional<std::uint64_t> size;    // size the entry claims (default: the content's)
    std::optional<std::uint64_t> address; // where the entry says it is (default: where it is put)
};

// Changes the acknowledges of matching commands.
struct gencp_fault {
    std::optional<std::uint64_t> address;     // only commands at this address
    std::optional<std::uint16_t> command_id;  // only this command (0x0800 READMEM, 0x0802 WRITEMEM)
    int count = -1;                           // acknowledges it still changes; -1 all
    std::optional<std::uint16_t> status;      // status answered (the data are not sent)
    int request_id_offset = 0;                // added to the request id answered
    int command_id_offset = 0;                // added to the command id answered
    std::optional<std::uint16_t> ack_length;  // READMEM: data length claimed and sent
    std::optional<std::uint16_t> sent_length; // data bytes really sent (the claim stays)
    bool stall = false;                       // the acknowledge never comes
};

// One command as the responder received it.
struct gencp_command {
    std::uint16_t command_id = 0;
    std::uint16_t request_id = 0;
    std::uint64_t address = 0;
    std::uint32_t length = 0; // READMEM: bytes asked; WRITEMEM: bytes carried
    std::size_t size = 0;     // bytes of the whole command
};

class gencp_responder {
public:
    // Answers the camera's vendor requests from now on; serves the checked-in
    // description, zipped at run time, as the manifest's one entry.
    explicit gencp_responder(camera& cam);

    // Values answered to requests 0x23 and 0x22.
    void set_limits(std::uint32_t max_read_size, std::uint32_t max_write_size);
    void set_user_defined_name(const std::string& name, bool present = true);
    // Lays out the manifest table and its files; `count` overrides the entry
    // count written (the entries written stay those given).
    void set_manifest(std::vector<manifest_file> files, std::optional<std::uint64_t> count = {});
    // The value of the table-address register (the table itself stays).
    void set_table_address(std::uint64_t address);
    void add_fault(const gencp_fault& fault);
    void clear_faults();

    // Register access for tests, bypassing the protocol.
    bytes peek(std::uint64_t address, std::size_t length) const;
    void poke(std::uint64_t address, const bytes& value);
    void add_register(std::uint64_t address, bytes value, bool read_only);

    // Called after every successful WRITEMEM that starts at `address`, with
    // the bytes written, on the thread of the control transfer (the
    // responder's lock is held: the hook must not call the responder).
    using write_hook = std::function<void(std::span<const std::uint8_t> written)>;
    void on_register_write(std::uint64_t address, write_hook hook);
    // Called when a READMEM that starts at `address` arrives, before it is
    // answered, on the thread of the control transfer and without the
    // responder's lock: a test holds the camera in the middle of a read
    // there. An empty hook removes it.
    using read_hook = std::function<void()>;
    void on_register_read(std::uint64_t address, read_hook hook);

    // The commands received, in order, while recording (the default).
    std::vector<gencp_command> commands() const;
    // READMEM commands that asked for bytes in [address, address + length).
    std::size_t readmem_count(std::uint64_t address, std::uint64_t length) const;
    // Off: commands are answered as before but no longer kept, for a camera
    // that serves a process for hours rather than one test.
    void set_recording(bool on);

    // The manifest entry of the checked-in description: zipped by libzip at
    // run time, under a hash made from `tag` so that tests keep their cache
    // entries apart.
    static manifest_file description_entry(std::uint32_t tag, bool zipped = true);

private:
    struct state;
    std::shared_ptr<state> state_;
};

} // namespace sim_camera
