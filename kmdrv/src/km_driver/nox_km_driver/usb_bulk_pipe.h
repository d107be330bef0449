#pragma once
// Transfer engine of one IN endpoint: every read becomes one bulk or interrupt
// transfer carried by one of 16 transfer slots whose IRP and URB are made once
// and reused. Completion and cancellation meet through a two-share ownership
// count, so a cancelled read completes exactly once. Babble reported by the
// stack re-synchronises the pipe on a work item.

#include <wdf.h>

#include "device.h"
#include "std_ext/fixed_vector.h"

namespace usb {

class usb_bulk_pipe;

inline constexpr size_t transfer_slot_count = 16;

struct transfer_slot {
    SINGLE_LIST_ENTRY links;
    usb_bulk_pipe* owner;
    // Signalled whenever the slot is not in flight (from its creation on).
    KEVENT idle;
    URB urb;
    PIRP irp;
    PPIPE_REQUEST_CONTEXT request_context;
    WDFREQUEST request;
    volatile LONG owners;
};

// Counts queued work items; closing waits until none is outstanding.
struct resync_tracker {
    KEVENT drained;
    KSPIN_LOCK lock;
    ULONG outstanding;
    BOOLEAN closed;
    PDEVICE_OBJECT device;
};

class usb_bulk_pipe {
public:
    // `work_device` is the driver's own device object, used for work items.
    usb_bulk_pipe(PDEVICE_OBJECT target, PDEVICE_OBJECT work_device, const USBD_PIPE_INFORMATION& info);
    ~usb_bulk_pipe(); // stops the pipe, then frees the slots and their IRPs

    NTSTATUS start();
    NTSTATUS stop();
    bool is_running();
    // Submits a read or completes it at once (not running, no free slot).
    void push(WDFREQUEST request, PMDL mdl, PPIPE_REQUEST_CONTEXT context);
    const USBD_PIPE_INFORMATION& pipe_info() const { return pipe_info_; }

    // Selecting an alternate setting frees the pipe handles of the interface's
    // old setting. Before that, a stopped pipe gives up its handle (false, and
    // nothing changes, while it runs: the selection must wait); afterwards it
    // takes the pipe information now kept for its endpoint. Without any (the
    // new setting lacks the endpoint) it does not start, so no request ever
    // carries a handle the USB stack has freed.
    bool release_endpoint();
    void assign_endpoint(const USBD_PIPE_INFORMATION* info);

private:
    NTSTATUS init_free_list();
    void free_slots();
    void return_slot(transfer_slot* slot);
    void cancel_all_irps_sync();
    void complete_bulk_transfer(transfer_slot* slot, NTSTATUS status, ULONG bytes);
    void complete_transfer_success(transfer_slot* slot, NTSTATUS status, ULONG bytes);
    void complete_transfer_cancel_running(transfer_slot* slot);
    void rsync_pipe_req();
    NTSTATUS queue_resync();
    void tracker_open();
    void tracker_close();

    static NTSTATUS transfer_request_complete(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    static VOID cancel_event_request(WDFREQUEST request);
    static VOID resync_work(PDEVICE_OBJECT device, PVOID context);

    USBD_PIPE_INFORMATION pipe_info_; // replaced only while stopped, under lock_; the address never changes
    PDEVICE_OBJECT target_;
    resync_tracker tracker_{};
    SINGLE_LIST_ENTRY free_list_{};
    KSPIN_LOCK free_list_lock_ = 0;
    KMUTEX lock_;
    bool running_ = false;
    bool has_endpoint_ = true; // pipe_info_ holds a live pipe handle; guarded by lock_
    std_ext::fixed_vector<transfer_slot> slots_;
    volatile LONG resync_pending_ = 0;
};

} // namespace usb
