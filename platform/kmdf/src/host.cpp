// The system side of the stand-in: loading the driver, Plug and Play and power
// events, and the I/O manager's part of opens, closes, reads and I/O controls.

#include "standin_internal.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace kmdf {
using namespace detail;

struct host::state {
    PDRIVER_INITIALIZE entry = nullptr;
    std::wstring registry_path;
    UNICODE_STRING registry_path_string{};
    DRIVER_OBJECT wdm{};
    driver_object* driver = nullptr;
    bool loaded = false;
    std::vector<device_object*> devices;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::uint64_t next_ticket = 1;
    std::map<std::uint64_t, request_object*> pending;
    // Open files, and closed ones until they are freed; guarded by lock.
    std::vector<file_object*> files;
    // Completion callbacks that have not returned yet, of every file; guarded
    // by lock. A request leaves `pending` before its callback runs.
    std::size_t callbacks_running = 0;
    // The same callbacks by thread and file, nested ones included, and the
    // file each thread waits to close; both guarded by lock.
    struct running_callback {
        std::thread::id thread;
        const file_object* file;
    };
    std::vector<running_callback> running;
    std::map<std::thread::id, const file_object*> closing;

    void release(request_object* r)
    {
        if (r->references.fetch_sub(1) == 1) {
            destroy_object(r);
        }
    }

    // Whether `thread` cannot go on before `waiter` does: it is `waiter`, or
    // it waits to close a file with a callback running in such a thread. A
    // close never waits for such a callback: the wait could never end, as the
    // I/O manager never lets a close wait for its own caller. Lock held.
    bool waits_for(std::thread::id thread, std::thread::id waiter, std::vector<std::thread::id>& seen) const
    {
        if (thread == waiter) {
            return true;
        }
        if (std::find(seen.begin(), seen.end(), thread) != seen.end()) {
            return false;
        }
        seen.push_back(thread);
        const auto closes = closing.find(thread);
        if (closes == closing.end()) {
            return false;
        }
        return std::any_of(running.begin(), running.end(), [&](const running_callback& c) {
            return c.file == closes->second && waits_for(c.thread, waiter, seen);
        });
    }
    // The callbacks of `f` that a close in thread `me` waits for. Lock held.
    std::size_t callbacks_to_wait_for(const file_object* f, std::thread::id me) const
    {
        return static_cast<std::size_t>(std::count_if(running.begin(), running.end(), [&](const running_callback& c) {
            std::vector<std::thread::id> seen;
            return c.file == f && !waits_for(c.thread, me, seen);
        }));
    }
    // Frees a closed file whose last callback has returned. Its device waits
    // for it in remove_device until it is gone.
    void free_file(file_object* f)
    {
        destroy_object(f);
        std::lock_guard guard(lock);
        std::erase(files, f);
        changed.notify_all();
    }
};

namespace detail {
namespace {
std::mutex g_loading_lock;
std::map<PDRIVER_OBJECT, driver_object*> g_loading;
} // namespace

driver_object* driver_being_loaded(PDRIVER_OBJECT wdm)
{
    std::lock_guard lock(g_loading_lock);
    const auto found = g_loading.find(wdm);
    return found == g_loading.end() ? nullptr : found->second;
}

void request_finished(request_object* r, NTSTATUS status)
{
    // Buffered output returns to the caller unless the request failed.
    const bool failed = (static_cast<ULONG>(status) >> 30) == 3;
    if (r->major == IRP_MJ_DEVICE_CONTROL && r->method == METHOD_BUFFERED && !failed && r->user_output != nullptr) {
        const size_t count = std::min<size_t>(r->information, r->output_length);
        memcpy(r->user_output, r->system_buffer.data(), count);
    }
    host::state* owner = r->owner;
    file_object* f = r->file;
    ++counters().requests_completed;
    const std::thread::id me = std::this_thread::get_id();
    {
        std::lock_guard lock(owner->lock);
        owner->pending.erase(r->ticket);
        ++f->callbacks_running;
        ++owner->callbacks_running;
        owner->running.push_back({me, f});
    }
    if (r->done) {
        r->done(status, r->information);
    }
    owner->release(r);
    // The file, and then the host, may go as soon as their count drops: a
    // close and the host's destruction wait for these.
    bool free_file = false;
    {
        std::lock_guard lock(owner->lock);
        // This thread's innermost callback of the file is the one returning.
        const auto own = std::find_if(owner->running.rbegin(), owner->running.rend(), [&](const auto& c) {
            return c.thread == me && c.file == f;
        });
        owner->running.erase(std::next(own).base());
        free_file = --f->callbacks_running == 0 && f->freed_by_last_callback;
        owner->changed.notify_all();
    }
    if (free_file) {
        owner->free_file(f);
    }
    {
        std::lock_guard lock(owner->lock);
        --owner->callbacks_running;
        owner->changed.notify_all();
    }
}
} // namespace detail

host::host(PDRIVER_INITIALIZE entry, std::wstring registry_path) : state_(std::make_unique<state>())
{
    state_->entry = entry;
    state_->registry_path = std::move(registry_path);
    RtlInitUnicodeString(&state_->registry_path_string, state_->registry_path.c_str());
}

host::~host()
{
    // Each removal waits for the callbacks of its device's files, those
    // closed from inside their own callbacks included.
    while (!state_->devices.empty()) {
        remove_device(reinterpret_cast<WDFDEVICE>(static_cast<object*>(state_->devices.back())));
    }
    {
        // The last callback to free its file still holds the host's state
        // until it has counted itself out.
        std::unique_lock lock(state_->lock);
        state_->changed.wait(lock, [&] { return state_->callbacks_running == 0; });
    }
    unload();
}

NTSTATUS host::load()
{
    state& s = *state_;
    s.wdm = {};
    s.wdm.DriverStart = GetModuleHandleW(nullptr);
    s.wdm.RegistryPath = &s.registry_path_string;
    s.driver = new driver_object;
    s.driver->owner = &s;
    s.driver->wdm = &s.wdm;
    {
        std::lock_guard lock(g_loading_lock);
        g_loading[&s.wdm] = s.driver;
    }
    const NTSTATUS status = s.entry(&s.wdm, &s.registry_path_string);
    {
        std::lock_guard lock(g_loading_lock);
        g_loading.erase(&s.wdm);
    }
    if (!NT_SUCCESS(status)) {
        s.driver->cleanup = nullptr;
        destroy_object(s.driver);
        s.driver = nullptr;
        return status;
    }
    s.loaded = true;
    return status;
}

void host::unload()
{
    state& s = *state_;
    if (!s.loaded) {
        return;
    }
    s.loaded = false;
    destroy_object(s.driver);
    s.driver = nullptr;
}

NTSTATUS host::add_device(PDEVICE_OBJECT pdo, std::wstring hardware_key, WDFDEVICE* device)
{
    state& s = *state_;
    *device = nullptr;
    if (!s.loaded || s.driver->config.EvtDriverDeviceAdd == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    WDFDEVICE_INIT init;
    init.owner = &s;
    init.driver = s.driver;
    init.pdo = pdo;
    init.hardware_key = std::move(hardware_key);
    NTSTATUS status =
        s.driver->config.EvtDriverDeviceAdd(reinterpret_cast<WDFDRIVER>(static_cast<object*>(s.driver)), &init);
    device_object* d = init.created;
    if (d == nullptr) {
        return NT_SUCCESS(status) ? STATUS_INVALID_DEVICE_STATE : status;
    }
    const auto handle = reinterpret_cast<WDFDEVICE>(static_cast<object*>(d));
    s.devices.push_back(d);
    if (!NT_SUCCESS(status)) {
        remove_device(handle);
        return status;
    }
    if (d->pnp.EvtDevicePrepareHardware != nullptr) {
        status = d->pnp.EvtDevicePrepareHardware(handle, nullptr, nullptr);
    }
    d->prepared = true;
    if (!NT_SUCCESS(status)) {
        // A failed start releases the hardware again and removes the device.
        remove_device(handle);
        return status;
    }
    if (d->pnp.EvtDeviceSelfManagedIoInit != nullptr) {
        d->pnp.EvtDeviceSelfManagedIoInit(handle);
    }
    *device = handle;
    return STATUS_SUCCESS;
}

void host::suspend(WDFDEVICE device)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "host::suspend");
    if (d != nullptr && d->pnp.EvtDeviceSelfManagedIoSuspend != nullptr) {
        d->pnp.EvtDeviceSelfManagedIoSuspend(device);
    }
}

void host::restart(WDFDEVICE device)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "host::restart");
    if (d != nullptr && d->pnp.EvtDeviceSelfManagedIoRestart != nullptr) {
        d->pnp.EvtDeviceSelfManagedIoRestart(device);
    }
}

void host::surprise_remove(WDFDEVICE device)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "host::surprise_remove");
    if (d == nullptr || !d->prepared) {
        return;
    }
    suspend(device);
    d->prepared = false;
    if (d->pnp.EvtDeviceReleaseHardware != nullptr) {
        d->pnp.EvtDeviceReleaseHardware(device, nullptr);
    }
    if (d->pnp.EvtDeviceSelfManagedIoFlush != nullptr) {
        d->pnp.EvtDeviceSelfManagedIoFlush(device);
    }
}

void host::remove_device(WDFDEVICE device)
{
    state& s = *state_;
    auto* d = checked_as<device_object>(device, object_kind::device, "host::remove_device");
    if (d == nullptr) {
        return;
    }
    std::vector<file_object*> open_files;
    {
        std::lock_guard lock(s.lock);
        for (file_object* f : s.files) {
            if (f->device == d && !f->closed) {
                open_files.push_back(f);
            }
        }
    }
    for (file_object* f : open_files) {
        close_file(s, f);
    }
    // A file closed from inside its own callback, or by another thread, is
    // still reachable from a callback that runs on: the device stays until
    // the last of them is freed. A callback in this thread cannot return
    // first, so this must not be called from one of the device's files.
    bool left_in_this_thread = false;
    {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock lock(s.lock);
        s.changed.wait(lock, [&] {
            return std::all_of(s.files.begin(), s.files.end(), [&](const file_object* f) {
                return f->device != d || (f->callbacks_running > 0 && s.callbacks_to_wait_for(f, me) == 0);
            });
        });
        left_in_this_thread =
            std::any_of(s.files.begin(), s.files.end(), [&](const file_object* f) { return f->device == d; });
    }
    if (left_in_this_thread) {
        report_violation("host::remove_device: called from a completion callback of one of the device's files");
    }
    if (d->prepared) {
        d->prepared = false;
        if (d->pnp.EvtDeviceReleaseHardware != nullptr) {
            d->pnp.EvtDeviceReleaseHardware(device, nullptr);
        }
    }
    std::erase(s.devices, d);
    queue_object* q = d->queue;
    destroy_object(d);
    destroy_object(q);
}

std::vector<GUID> host::device_interfaces(WDFDEVICE device) const
{
    auto* d = checked_as<device_object>(device, object_kind::device, "host::device_interfaces");
    return d == nullptr ? std::vector<GUID>{} : d->interfaces;
}

NTSTATUS host::open(WDFDEVICE device, std::wstring_view file_name, WDFFILEOBJECT* file)
{
    state& s = *state_;
    *file = nullptr;
    auto* d = checked_as<device_object>(device, object_kind::device, "host::open");
    if (d == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* f = new file_object;
    f->device = d;
    f->name = file_name;
    f->name_string.Buffer = f->name.empty() ? nullptr : f->name.data();
    f->name_string.Length = static_cast<USHORT>(f->name.size() * sizeof(WCHAR));
    f->name_string.MaximumLength = f->name_string.Length;
    if (d->has_file_attributes) {
        const NTSTATUS status = f->apply(&d->file_attributes);
        if (!NT_SUCCESS(status)) {
            f->cleanup = nullptr;
            destroy_object(f);
            return status;
        }
    }
    const auto handle = reinterpret_cast<WDFFILEOBJECT>(static_cast<object*>(f));
    NTSTATUS status = STATUS_SUCCESS;
    if (d->file_config.EvtDeviceFileCreate != nullptr) {
        auto* r = new request_object;
        r->owner = &s;
        r->file = f;
        r->major = IRP_MJ_CREATE;
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        r->done = [&](NTSTATUS result, ULONG_PTR) {
            status = result;
            KeSetEvent(&done, 0, FALSE);
        };
        d->file_config.EvtDeviceFileCreate(device, reinterpret_cast<WDFREQUEST>(static_cast<object*>(r)), handle);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        std::unique_lock lock(s.lock); // the create's callback has returned
        s.changed.wait(lock, [&] { return f->callbacks_running == 0; });
    }
    if (!NT_SUCCESS(status)) {
        destroy_object(f);
        return status;
    }
    {
        std::lock_guard lock(s.lock);
        s.files.push_back(f);
    }
    *file = handle;
    return STATUS_SUCCESS;
}

void host::close(WDFFILEOBJECT file)
{
    auto* f = checked_as<file_object>(file, object_kind::file, "host::close");
    if (f != nullptr && !close_file(*state_, f)) {
        report_violation("host::close: the file is already closed");
    }
}

bool host::close_file(state& s, detail::file_object* f)
{
    {
        std::lock_guard lock(s.lock);
        if (f->closed) {
            return false;
        }
        f->closed = true;
    }
    const auto file = reinterpret_cast<WDFFILEOBJECT>(static_cast<object*>(f));
    cancel_file(file);
    // The close waits for the file's requests and their callbacks, except a
    // callback that cannot return before it: one below it in this thread, or
    // one in a thread that waits, in a close, for a callback in this one. The
    // file is then freed when its last callback returns, as the I/O manager
    // keeps a file until its last request is done.
    const std::thread::id me = std::this_thread::get_id();
    {
        std::unique_lock lock(s.lock);
        s.closing[me] = f;
        // A close that waits for a callback in this thread may now find that
        // the callback waits for it in turn.
        s.changed.notify_all();
        s.changed.wait(lock, [&] {
            if (s.callbacks_to_wait_for(f, me) != 0) {
                return false;
            }
            return std::none_of(s.pending.begin(), s.pending.end(), [&](const auto& p) { return p.second->file == f; });
        });
        s.closing.erase(me);
    }
    if (f->device->file_config.EvtFileClose != nullptr) {
        f->device->file_config.EvtFileClose(file);
    }
    bool free_now = false;
    {
        std::lock_guard lock(s.lock);
        free_now = f->callbacks_running == 0;
        f->freed_by_last_callback = !free_now;
    }
    if (free_now) {
        s.free_file(f);
    }
    return true;
}

namespace {
std::uint64_t dispatch(host::state& s, request_object* r)
{
    {
        std::lock_guard lock(s.lock);
        r->ticket = s.next_ticket++;
        s.pending[r->ticket] = r;
    }
    const std::uint64_t ticket = r->ticket;
    const auto request = reinterpret_cast<WDFREQUEST>(static_cast<object*>(r));
    queue_object* q = r->file->device->queue;
    const auto queue = reinterpret_cast<WDFQUEUE>(static_cast<object*>(q));
    if (q == nullptr) {
        WdfRequestComplete(request, STATUS_INVALID_DEVICE_REQUEST);
    } else if (r->major == IRP_MJ_READ) {
        if (r->output_length == 0 && !q->config.AllowZeroLengthRequests) {
            WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, 0);
        } else if (q->config.EvtIoRead == nullptr) {
            WdfRequestComplete(request, STATUS_INVALID_DEVICE_REQUEST);
        } else {
            q->config.EvtIoRead(queue, request, r->output_length);
        }
    } else if (q->config.EvtIoDeviceControl == nullptr) {
        WdfRequestComplete(request, STATUS_INVALID_DEVICE_REQUEST);
    } else {
        q->config.EvtIoDeviceControl(queue, request, r->output_length, r->input_length, r->code);
    }
    return ticket;
}
} // namespace

std::uint64_t host::submit_ioctl(WDFFILEOBJECT file, ULONG code, const void* input, ULONG input_length, void* output,
                                 ULONG output_length, io_completion done)
{
    auto* f = checked_as<file_object>(file, object_kind::file, "host::submit_ioctl");
    if (f == nullptr) {
        done(STATUS_INVALID_HANDLE, 0);
        return 0;
    }
    auto* r = new request_object;
    r->owner = state_.get();
    r->file = f;
    r->major = IRP_MJ_DEVICE_CONTROL;
    r->code = code;
    r->method = code & 3;
    r->input_length = input == nullptr ? 0 : input_length;
    r->user_output = output;
    r->output_length = output == nullptr ? 0 : output_length;
    if (r->method == METHOD_BUFFERED) {
        r->system_buffer.assign(std::max(r->input_length, r->output_length) + 1, 0);
    } else {
        r->system_buffer.assign(r->input_length + 1, 0);
    }
    if (r->input_length != 0) {
        memcpy(r->system_buffer.data(), input, r->input_length);
    }
    r->done = std::move(done);
    return dispatch(*state_, r);
}

std::uint64_t host::submit_read(WDFFILEOBJECT file, void* buffer, ULONG length, io_completion done)
{
    auto* f = checked_as<file_object>(file, object_kind::file, "host::submit_read");
    if (f == nullptr) {
        done(STATUS_INVALID_HANDLE, 0);
        return 0;
    }
    auto* r = new request_object;
    r->owner = state_.get();
    r->file = f;
    r->major = IRP_MJ_READ;
    r->method = METHOD_OUT_DIRECT;
    r->user_output = buffer;
    r->output_length = buffer == nullptr ? 0 : length;
    r->done = std::move(done);
    return dispatch(*state_, r);
}

bool host::cancel(std::uint64_t ticket)
{
    state& s = *state_;
    request_object* r = nullptr;
    {
        std::lock_guard lock(s.lock);
        const auto found = s.pending.find(ticket);
        if (found == s.pending.end()) {
            return false;
        }
        r = found->second;
        r->references.fetch_add(1);
    }
    r->cancelled.store(true);
    if (PFN_WDF_REQUEST_CANCEL routine = r->cancel_routine.exchange(nullptr)) {
        routine(reinterpret_cast<WDFREQUEST>(static_cast<object*>(r)));
    }
    s.release(r);
    return true;
}

void host::cancel_file(WDFFILEOBJECT file)
{
    std::vector<std::uint64_t> tickets;
    {
        std::lock_guard lock(state_->lock);
        for (const auto& [ticket, r] : state_->pending) {
            if (static_cast<WDFOBJECT>(static_cast<object*>(r->file)) == static_cast<WDFOBJECT>(file)) {
                tickets.push_back(ticket);
            }
        }
    }
    for (const std::uint64_t ticket : tickets) {
        cancel(ticket);
    }
}

std::size_t host::pending_requests() const
{
    std::lock_guard lock(state_->lock);
    return state_->pending.size();
}

namespace {
struct waiter {
    KEVENT done;
    io_result result;
    waiter() { KeInitializeEvent(&done, NotificationEvent, FALSE); }
    io_completion completion()
    {
        return [this](NTSTATUS status, ULONG_PTR information) {
            result = {status, information};
            KeSetEvent(&done, 0, FALSE);
        };
    }
    io_result wait()
    {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        return result;
    }
};
} // namespace

io_result host::ioctl(WDFFILEOBJECT file, ULONG code, const void* input, ULONG input_length, void* output,
                      ULONG output_length)
{
    waiter w;
    submit_ioctl(file, code, input, input_length, output, output_length, w.completion());
    return w.wait();
}

io_result host::read(WDFFILEOBJECT file, void* buffer, ULONG length)
{
    waiter w;
    submit_read(file, buffer, length, w.completion());
    return w.wait();
}

} // namespace kmdf
