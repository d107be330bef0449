#include "service/session_mailslot.h"

#include <algorithm>
#include <cstring>

namespace DShowDeviceService {

namespace {
constexpr std::u16string_view session_name_prefix =
    u"\\\\.\\mailslot\\CamTovraService_list_changed\\{8C59D083-B06B-4D89-8D93-F19EB7956FC4}\\session_";
constexpr std::u16string_view local_mailslot_prefix = u"\\\\.\\mailslot\\";

char16_t ascii_lower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
} // namespace

mailslot_event make_mailslot_event(std::uint32_t kind, const guid_bytes& device_guid, std::u16string_view name)
{
    mailslot_event event;
    event.kind = kind;
    event.device_guid = device_guid;
    const std::size_t length = std::min(name.size(), mailslot_event_name_length - 1);
    std::copy_n(name.data(), length, event.name);
    return event;
}

mailslot_event make_closing_event()
{
    mailslot_event event;
    event.kind = device_event::closing;
    return event;
}

std::optional<received_event> parse_mailslot_event(const void* data, std::size_t size)
{
    if (data == nullptr || size < mailslot_event_size) {
        return std::nullopt;
    }
    mailslot_event event;
    std::memcpy(&event, data, mailslot_event_size);
    if (event.version != mailslot_event_version) {
        return std::nullopt;
    }
    const char16_t* name = event.name;
    const char16_t* name_end = std::find(name, name + mailslot_event_name_length, u'\0');
    return received_event{event.kind, event.device_guid, std::u16string(name, name_end)};
}

std::u16string session_mailslot_name(std::int32_t session_id)
{
    std::u16string name(session_name_prefix);
    const std::string number = std::to_string(session_id);
    name.append(number.begin(), number.end());
    return name;
}

bool is_local_mailslot_name(std::u16string_view name)
{
    if (name.size() > max_mailslot_name_length || name.size() <= local_mailslot_prefix.size()) {
        return false;
    }
    if (!std::equal(local_mailslot_prefix.begin(), local_mailslot_prefix.end(), name.begin(),
                    [](char16_t expected, char16_t c) { return expected == ascii_lower(c); })) {
        return false;
    }
    if (name.find_first_of(std::u16string_view(u"/\0", 2)) != std::u16string_view::npos) {
        return false;
    }
    // Every part after the namespace must name something: no "." or "..".
    std::u16string_view rest = name.substr(local_mailslot_prefix.size());
    while (true) {
        const std::size_t separator = rest.find(u'\\');
        const std::u16string_view part = rest.substr(0, separator);
        if (part == u"." || part == u"..") {
            return false;
        }
        if (separator == std::u16string_view::npos) {
            return true;
        }
        rest.remove_prefix(separator + 1);
    }
}

} // namespace DShowDeviceService
