#pragma once
// A simulated USB camera standing where the USB stack would be: its physical
// device object answers the requests a function driver sends down (URBs,
// port reset, capability and bus-interface queries). It serves descriptors,
// configuration and interface selection, vendor and class control transfers
// (through handlers that tests and later layers add), bulk and interrupt IN
// transfers fed by a payload generator, pipe abort and reset, and it injects
// faults. Transfers complete inline, later on the simulator's own thread, or
// stay held until a test releases them; cancellation is honoured in every case.

#include "descriptors.h"

#include <km_usbd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace sim_camera {

// A class or vendor control transfer as the device sees it.
struct control_setup {
    bool vendor = false;          // else class
    std::uint8_t recipient = 0;   // 0 device, 1 interface, 2 endpoint, 3 other
    bool device_to_host = false;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;     // wLength
};

struct control_reply {
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    std::uint32_t length = 0;     // bytes of the data stage actually transferred
    bool never_complete = false;  // the device does not answer (until cancelled)
};

// Answers a control transfer, or returns nothing to let the next handler try.
// `data` is the data stage (IN: to fill; OUT: what the host sent).
using control_handler = std::function<std::optional<control_reply>(const control_setup&, std::span<std::uint8_t> data)>;

// Fills one bulk or interrupt IN transfer; returns the bytes produced (at most
// the buffer's size). `sequence` counts the transfers of that endpoint.
using payload_generator = std::function<std::uint32_t(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                                      std::uint64_t sequence)>;

enum class completion_mode {
    inline_completion, // inside the call that submitted the transfer
    deferred,          // soon after, on the simulator's thread
    held,              // when the test releases it (release_transfers)
};

struct control_record {
    USHORT function = 0; // URB function
    ULONG transfer_flags = 0;
    control_setup setup;
    std::vector<std::uint8_t> out_data;
};

class camera {
public:
    camera();
    ~camera();
    camera(const camera&) = delete;
    camera& operator=(const camera&) = delete;

    PDEVICE_OBJECT pdo() { return &pdo_; }

    // -------- what the device is (set before the driver starts)
    bytes device_descriptor_bytes;
    bytes configuration_bytes;
    // Raw string descriptors by index; index 0 is the language table.
    std::map<std::uint8_t, bytes> strings;
    // Bytes a descriptor answer may carry at most (0: all); models a device
    // that sends fewer bytes than its descriptor's length claims.
    std::atomic<std::uint32_t> descriptor_reply_limit{0};
    std::atomic<bool> high_speed{true};          // false: a full-speed connection
    std::atomic<bool> super_speed{true};         // SuperSpeed capability answered
    std::atomic<bool> bus_interface_available{true};
    std::atomic<std::uint32_t> supported_usb_version{0x300};

    // -------- behaviour
    void add_control_handler(control_handler handler);
    void set_payload_generator(payload_generator generator);
    void set_completion_mode(completion_mode mode);
    // Acquisition of the camera's image data. While it is stopped, bulk and
    // interrupt IN transfers stay pending (cancellable) and are filled on the
    // simulator's thread once it runs again. A camera acquires from the start.
    void set_acquiring(bool running);
    bool acquiring() const;
    // Waits until acquisition is stopped with at least `count` transfers
    // pending for it; false after `timeout_ms`.
    bool wait_for_waiting_transfers(std::size_t count, unsigned timeout_ms = 5000) const;

    // -------- faults
    std::atomic<bool> no_bandwidth{false};        // configuration selection fails
    // The next N interface selections fail for want of bandwidth; the setting
    // selected before stays, with its pipe handles and transfers in flight.
    std::atomic<int> select_interface_refusals{0};
    std::atomic<bool> controls_never_complete{false};
    std::atomic<int> babble_transfers{0};         // the next N IN transfers end in babble
    std::atomic<int> reset_pipe_failures{0};      // the next N pipe resets fail (stall)
    std::atomic<int> reset_pipe_busy{0};          // the next N pipe resets report busy
    std::atomic<bool> reset_port_fails{false};
    // The device leaves the bus: transfers in flight end with "device gone"
    // and every later request fails the same way.
    void remove();

    // -------- held transfers
    std::size_t held_transfers() const;
    // Completes up to `count` held IN transfers with data (or `status`).
    std::size_t release_transfers(std::size_t count, USBD_STATUS status = USBD_STATUS_SUCCESS);
    // Waits until at least `count` transfers are held; false after `timeout_ms`.
    bool wait_for_held(std::size_t count, unsigned timeout_ms = 5000) const;

    // -------- what happened
    struct statistics {
        std::atomic<int> configuration_reads{0};
        std::atomic<int> bulk_transfers{0};
        std::atomic<int> aborts{0};
        std::atomic<int> pipe_resets{0};
        std::atomic<int> port_resets{0};
        std::atomic<int> bus_interface_references{0};
        std::atomic<int> select_configurations{0};
        std::atomic<int> select_interfaces{0};
    } stats;
    std::vector<std::uint32_t> configuration_read_lengths() const;
    // Every control transfer received, in order, while record_controls is set.
    std::vector<control_record> control_log() const;
    // False: control transfers are answered as before but no longer kept, for
    // a camera that serves a process for hours rather than one test.
    std::atomic<bool> record_controls{true};
    // The alternate setting selected for an interface (-1 when none).
    int selected_alternate(std::uint8_t interface_number) const;

    // The pipe handle that the last selection gave an endpoint (null if none).
    USBD_PIPE_HANDLE pipe_handle(std::uint8_t endpoint) const;

private:
    struct pipe_state {
        std::uint8_t endpoint;
        std::uint8_t interface_number;
        USBD_PIPE_HANDLE handle;
        std::uint64_t sequence = 0;
    };

    static NTSTATUS dispatch_internal(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS dispatch_pnp(PDEVICE_OBJECT device, PIRP irp);
    static VOID cancel_transfer(PDEVICE_OBJECT device, PIRP irp);

    NTSTATUS submit_urb(PIRP irp, PURB urb);
    NTSTATUS get_descriptor(PIRP irp, PURB urb);
    NTSTATUS select_configuration(PIRP irp, PURB urb);
    NTSTATUS select_interface(PIRP irp, PURB urb);
    bool fill_interface(PUSBD_INTERFACE_INFORMATION info, ULONG room);
    NTSTATUS control_transfer(PIRP irp, PURB urb);
    NTSTATUS bulk_transfer(PIRP irp, PURB urb);
    NTSTATUS pipe_request(PIRP irp, PURB urb);
    NTSTATUS query_interface(PIRP irp);

    NTSTATUS complete(PIRP irp, NTSTATUS status, USBD_STATUS usbd_status);
    NTSTATUS pend(PIRP irp, bool on_thread);
    void fill_transfer(PIRP irp);
    // Takes every pending transfer that `which` selects off the lists;
    // the caller completes them.
    std::vector<PIRP> take_pending(const std::function<bool(PIRP)>& which);
    void finish_taken(const std::vector<PIRP>& irps, NTSTATUS status, USBD_STATUS usbd_status);
    void worker();

    DRIVER_OBJECT driver_{};
    DEVICE_OBJECT pdo_{};

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<control_handler> handlers_;
    payload_generator generator_;
    completion_mode mode_ = completion_mode::inline_completion;
    bool acquiring_ = true;
    std::deque<PIRP> held_;     // pending transfers that wait for the test
    std::deque<PIRP> deferred_; // pending transfers for the worker thread
    std::map<std::uint8_t, pipe_state> pipes_;
    std::map<std::uint8_t, int> selected_;
    std::uint32_t next_pipe_id_ = 1;
    bool configured_ = false;
    std::atomic<bool> removed_{false};
    bool stopping_ = false;
    std::vector<std::uint32_t> configuration_read_lengths_;
    std::vector<control_record> control_log_;
    std::thread thread_;
};

} // namespace sim_camera
