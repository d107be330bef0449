// Received list-changed messages come from whoever can write to the mailslot.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "service/session_mailslot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto event = DShowDeviceService::parse_mailslot_event(data, size)) {
        if (event->name.size() > DShowDeviceService::mailslot_event_name_length) {
            __builtin_trap();
        }
    }
    // The same bytes as a client-given mailslot name.
    std::u16string name(size / 2, u'\0');
    std::memcpy(name.data(), data, name.size() * sizeof(char16_t));
    if (DShowDeviceService::is_local_mailslot_name(name) && name.size() > 255) {
        __builtin_trap();
    }
    return 0;
}
