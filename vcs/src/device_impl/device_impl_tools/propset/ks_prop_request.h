#pragma once
// One KS-style property request as it travels inside the service, the key that
// names a handler, and the property sets the service's handlers serve.

#include <windows.h>

#include <cstdint>
#include <span>

// Built by the caller on its stack and handed to one handler by reference.
struct KsPropDataRequest {
    static constexpr std::uint32_t get = 0;
    static constexpr std::uint32_t set = 1;
    // query_flags bit: a handler of the two standard video sets answers with
    // the 20-byte range record instead of the 40-byte value record.
    static constexpr std::uint32_t query_range = 0x1000;

    std::uint32_t request_type = get;
    GUID property_set{};
    std::uint32_t property_id = 0;
    void* instance = nullptr;
    std::uint32_t instance_size = 0;
    // For a get the capacity, for a set the bytes supplied.
    void* value = nullptr;
    std::uint32_t value_size = 0;
    // Written by the handler.
    std::uint32_t bytes_returned = 0;
    std::uint32_t query_flags = 0;
};

namespace cam {

// The largest raw register access (a read or a write of the camera's memory)
// one request may make. Each runs its exchanges under the camera's request
// lock, which every other client's property request and the stream's chunk
// mode wait for: larger ones are refused with E_INVALIDARG before any
// exchange.
inline constexpr std::uint32_t max_raw_access_size = 1024 * 1024;

// (property set, property id): 20 bytes. Ordered by Data1, Data2, Data3, the
// eight Data4 bytes as unsigned bytes, then the id.
struct property_req_key {
    GUID property_set{};
    std::uint32_t property_id = 0;

    friend bool operator==(const property_req_key& a, const property_req_key& b) noexcept;
    friend bool operator<(const property_req_key& a, const property_req_key& b) noexcept;
};
static_assert(sizeof(property_req_key) == 20);

// The key a request addresses.
inline property_req_key key_of(const KsPropDataRequest& request) noexcept
{
    return {request.property_set, request.property_id};
}

// Field-by-field GUID comparison.
bool same_guid(const GUID& a, const GUID& b) noexcept;

// Handler positions of one key. A lookup at level L answers the highest
// occupied position not above L; every request path looks up at level 2.
inline constexpr unsigned level_base = 0;     // standard and table-built handlers
inline constexpr unsigned level_extension = 1; // sits above a level-0 handler of the same key
inline constexpr unsigned level_override = 2;  // hides the lower levels
inline constexpr unsigned level_count = 3;

inline constexpr GUID PROPSETID_VIDCAP_VIDEOPROCAMP = {
    0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
inline constexpr GUID PROPSETID_VIDCAP_CAMERACONTROL = {
    0xc6e13370, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
inline constexpr GUID PROPSETID_FWCAM1394_CUSTOM_PROP = {
    0x515e97d1, 0xc453, 0x4772, {0xa4, 0x89, 0xcc, 0x07, 0x0a, 0x5a, 0x24, 0x42}};
inline constexpr GUID PROPSETID_COLOR_ENHANCE = {
    0x8cbcf1c6, 0x53c3, 0x4d79, {0x8e, 0xdb, 0xc0, 0x64, 0x65, 0x75, 0xda, 0xc8}};
inline constexpr GUID PROPSETID_GENERIC_DRIVER_INTERFACE = {
    0x9ddd5edc, 0x5eff, 0x4d3b, {0xb8, 0x5b, 0x46, 0xfb, 0xc4, 0xe4, 0x9e, 0x59}};
inline constexpr GUID PROPSETID_EMULATED_REGISTER = {
    0x09d9c20f, 0x2a73, 0x43d2, {0xb6, 0x9c, 0x84, 0x5c, 0xc2, 0x58, 0x9c, 0x69}};
inline constexpr GUID PROPSETID_UVC_DRIVER = {
    0x4cb0d141, 0x9c2c, 0x49e5, {0x90, 0x05, 0xd7, 0xc0, 0x38, 0x2f, 0xd9, 0xd2}};
inline constexpr GUID PROPSETID_DRIVER_INFO_REQ = {
    0x8e4deef8, 0xb53b, 0x4a30, {0xb9, 0xb6, 0xaf, 0xbb, 0xcb, 0xd1, 0x82, 0xb4}};
inline constexpr GUID PROPSETID_KYV_CUSTOM_PROP = {
    0x17b1576b, 0x4b1b, 0x4e5b, {0xa6, 0x77, 0xea, 0x9f, 0x62, 0x03, 0x37, 0x27}};
inline constexpr GUID PROPSETID_KYV_BINNING = {
    0xbf3ec69e, 0x94fc, 0x4847, {0x8d, 0xb0, 0xf5, 0x63, 0x6f, 0x7b, 0xe6, 0x39}};
inline constexpr GUID PROPSETID_GIGECAM_CUSTOM_PROP = {
    0x272778fd, 0x21cb, 0x4d3c, {0x80, 0x37, 0x9f, 0x20, 0xc4, 0xe6, 0xd1, 0x6d}};

// True for the two standard video sets, whose requests travel as a range
// record and a value record.
bool is_standard_video_set(const GUID& property_set) noexcept;

struct named_property_set {
    GUID guid;
    const char* name;
};
// The sets that log lines call by name, in the order they are searched.
std::span<const named_property_set> known_property_sets() noexcept;

} // namespace cam
