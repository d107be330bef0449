#include "service/list_changed_notifier.h"

#include <algorithm>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"

namespace service {

list_changed_notifier::list_changed_notifier(mailslot_writer write) : write_(std::move(write)) {}

bool list_changed_notifier::write_file(HANDLE mailslot, const void* data, DWORD size)
{
    // The number of bytes written is not compared: a mailslot takes a message whole or not at all.
    DWORD written = 0;
    return WriteFile(mailslot, data, size, &written, nullptr) != FALSE;
}

list_changed_notifier::~list_changed_notifier()
{
    try {
        close();
    } catch (...) {
        // A throwing callback must not take the process down with the notifier.
    }
}

int list_changed_notifier::add_client(std::wstring name, callback on_message)
{
    const std::lock_guard lock(mutex_);
    clients_.push_back(client{std::move(name), nullptr, std::move(on_message)});
    return 0;
}

HRESULT list_changed_notifier::open_mailslot(std::wstring_view name)
{
    if (!DShowDeviceService::is_local_mailslot_name(DShowDeviceService::to_u16(name))) {
        log_line(logging::level_error,
                 "[CamTovra] service::list_changed_notifier::open_mailslot, refused \"{}\": not a local mailslot name\n",
                 utils::to_utf8(name));
        return E_INVALIDARG;
    }
    {
        const std::lock_guard lock(mutex_);
        if (find_mailslot(name) == clients_.end() && !mailslot_place_left(name)) {
            return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
        }
    }
    const std::wstring path(name);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A failure without an error code must still read as a failure.
        return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }
    std::shared_ptr<void> mailslot(handle, win32::close_handle);
    const std::lock_guard lock(mutex_);
    // One place per name: registering again only renews the handle.
    if (const auto registered = find_mailslot(name); registered != clients_.end()) {
        registered->mailslot = std::move(mailslot);
        return S_OK;
    }
    // Another registration may have taken the last place while this one opened.
    if (!mailslot_place_left(name)) {
        return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    }
    clients_.push_back(client{path, std::move(mailslot), nullptr});
    return S_OK;
}

std::list<list_changed_notifier::client>::iterator list_changed_notifier::find_mailslot(std::wstring_view name)
{
    return std::find_if(clients_.begin(), clients_.end(),
                        [&](const client& c) { return c.mailslot && c.name == name; });
}

bool list_changed_notifier::mailslot_place_left(std::wstring_view name) const
{
    std::size_t mailslots = 0;
    for (const client& c : clients_) {
        mailslots += c.mailslot ? 1 : 0;
    }
    if (mailslots < max_mailslots) {
        return true;
    }
    log_line(logging::level_error,
             "[CamTovra] service::list_changed_notifier::open_mailslot, refused \"{}\": {} mailslots are registered "
             "already\n",
             utils::to_utf8(name), mailslots);
    return false;
}

bool list_changed_notifier::remove_mailslot(std::wstring_view name)
{
    const std::lock_guard lock(mutex_);
    const auto found = find_mailslot(name);
    if (found == clients_.end()) {
        return false;
    }
    clients_.erase(found);
    return true;
}

bool list_changed_notifier::remove_callback(std::wstring_view name)
{
    const std::lock_guard lock(mutex_);
    const auto found = std::find_if(clients_.begin(), clients_.end(),
                                    [&](const client& c) { return !c.mailslot && c.on_message && c.name == name; });
    if (found == clients_.end()) {
        return false;
    }
    clients_.erase(found);
    return true;
}

void list_changed_notifier::post(const DShowDeviceService::mailslot_event& message)
{
    const std::lock_guard lock(mutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->mailslot) {
            if (!write_(it->mailslot.get(), &message, static_cast<DWORD>(sizeof(message)))) {
                it = clients_.erase(it);
                continue;
            }
        } else if (it->on_message) {
            it->on_message(message);
        } else {
            it = clients_.erase(it);
            continue;
        }
        ++it;
    }
}

void list_changed_notifier::close()
{
    post(DShowDeviceService::make_closing_event());
    const std::lock_guard lock(mutex_);
    clients_.clear();
}

std::vector<std::wstring> list_changed_notifier::client_names() const
{
    const std::lock_guard lock(mutex_);
    std::vector<std::wstring> names;
    names.reserve(clients_.size());
    for (const client& c : clients_) {
        names.push_back(c.name);
    }
    return names;
}

} // namespace service
