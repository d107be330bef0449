#pragma once
// The list-changed message that the service writes into every client mailslot
// when a camera arrives or leaves, and the name of each user session's
// mailslot. Both ends of the protocol (the service and the session proxy) use
// this header; it needs no Windows API.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace DShowDeviceService {

namespace device_event {
enum type : std::uint32_t {
    created = 1,     // arrived, or its friendly name changed
    removed = 2,
    closing = 0x100, // the notifier drops all clients right after this one
};
} // namespace device_event

inline constexpr std::uint32_t mailslot_event_version = 2;
inline constexpr std::size_t mailslot_event_size = 152;
// UTF-16 code units of the name field: at most 63 characters and a zero.
inline constexpr std::size_t mailslot_event_name_length = 64;

// The in-memory layout of a Windows GUID.
struct guid_bytes {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8]{};

    friend bool operator==(const guid_bytes&, const guid_bytes&) = default;
};

// 152 bytes, little-endian, no padding: written to a mailslot as it is.
struct mailslot_event {
    std::uint32_t version = mailslot_event_version;
    std::uint32_t kind = 0;
    guid_bytes device_guid{};
    char16_t name[mailslot_event_name_length]{};
};
static_assert(std::endian::native == std::endian::little, "the message is written in memory order");
static_assert(sizeof(mailslot_event) == mailslot_event_size);
static_assert(offsetof(mailslot_event, kind) == 4);
static_assert(offsetof(mailslot_event, device_guid) == 8);
static_assert(offsetof(mailslot_event, name) == 24);

// A message of `kind` for one camera. A name longer than 63 code units is cut
// there; the rest of the field stays zero.
mailslot_event make_mailslot_event(std::uint32_t kind, const guid_bytes& device_guid, std::u16string_view name);
// Version 2, kind 256, every other byte zero.
mailslot_event make_closing_event();

// What a reader takes from one received message.
struct received_event {
    std::uint32_t kind = 0;
    guid_bytes device_guid{};
    std::u16string name; // up to its first zero, never more than the field's 64 code units
};

// Reads the first 152 bytes of a received message. Nothing for fewer bytes or
// a version other than 2; bytes past 152 are not looked at.
std::optional<received_event> parse_mailslot_event(const void* data, std::size_t size);

// "\\.\mailslot\CamTovraService_list_changed\{8C59D083-...}\session_<id>",
// the session id as a signed decimal number.
std::u16string session_mailslot_name(std::int32_t session_id);

// Names of mailslots that the service agrees to write into: the local mailslot
// namespace ("\\.\mailslot\", any case), at most 255 code units, no NUL, no
// "/" and no "." or ".." path part.
inline constexpr std::size_t max_mailslot_name_length = 255;
bool is_local_mailslot_name(std::u16string_view name);

// Code-unit copies between the protocol's UTF-16 and wchar_t strings.
inline std::wstring to_wide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}
inline std::u16string to_u16(std::wstring_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

} // namespace DShowDeviceService
