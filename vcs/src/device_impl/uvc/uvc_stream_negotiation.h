#pragma once
// Negotiating a UVC stream with the camera: VS probe and commit, the choice
// of the input format for a requested stream format, and the bus transfer
// size this system proposes.

#include <cstdint>
#include <functional>
#include <system_error>
#include <vector>

#include <boost/outcome.hpp>

#include "device_impl/camera_base/stream_format_entry.h"
#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "device_impl/uvc/uvc_input_format.h"
#include "device_impl/uvc/uvc_stream_params.h"
#include "properties/property_store.h"
#include <nox_um/usb_device_handle.h>

namespace cam::uvc_cam {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

inline constexpr std::uint8_t vs_probe_control = 1;
inline constexpr std::uint8_t vs_commit_control = 2;
inline constexpr std::uint8_t streaming_interface = 1;

// Probe, read back, commit and read back the commit (unit 0, interface 1).
// The answer's bFormatIndex and bFrameIndex must be those proposed, else
// E_INVALIDARG and nothing is committed. Committed sizes of 0 or above
// max_committed_size are E_INVALIDARG too, before anything is allocated for
// them. `commit` holds what the device committed on success.
std::error_code probe_commit(const nox_um::usb_device_handle& device, const vs_probe_commit& probe,
                             vs_probe_commit& commit);

// The probe of a derived camera class: fills `probe` for an input format,
// interval and the requested image size, and may set the camera up for them;
// its error ends the negotiation before the probe is sent. The default sets
// bmHint 1, the two indices and the interval.
using fill_probe_fn = std::function<std::error_code(const input_format&, std::uint64_t interval,
                                                    vs_probe_commit& probe, cam::dim requested)>;
void default_fill_probe(const input_format& format, std::uint64_t interval, vs_probe_commit& probe);

struct negotiated_stream {
    cam::stream_format input;  // what the camera sends; buffer length at least dwMaxVideoFrameSize
    std::uint64_t interval = 0;
    vs_probe_commit commit;
    bool compressed = false; // MJPEG or frame-based: frames as long as the camera makes them
};

// Finds the offered entry for `requested` (E_INVALIDARG when none matches),
// derives the input stream format from its input record and negotiates it
// with `max_bus_transfer` as the proposed dwMaxPayloadTransferSize. An
// uncompressed image whose frames could not be held (beyond
// max_committed_size) is E_INVALIDARG.
outcome::std_result<negotiated_stream> negotiate_stream(const nox_um::usb_device_handle& device,
                                                        const std::vector<stream_format_entry>& entries,
                                                        const std::vector<input_format>& inputs,
                                                        const cam::stream_format& requested,
                                                        std::uint64_t interval, std::uint32_t max_bus_transfer,
                                                        const fill_probe_fn& fill_probe);

// The environment of this process and device: the system version, the
// connection speed (a failed query counts as not USB 3) and the store's
// `max_transfer_size` when it holds an integer.
bus_environment read_bus_environment(const nox_um::usb_device_handle& device, utils::property_store_itf* store);

} // namespace cam::uvc_cam
