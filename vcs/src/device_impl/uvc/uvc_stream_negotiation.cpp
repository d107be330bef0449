#include "device_impl/uvc/uvc_stream_negotiation.h"

#include "device_impl/image/image_format.h"
#include "device_impl/uvc/uvc_request.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"

namespace cam::uvc_cam {

namespace {

std::error_code vs_request(const nox_um::usb_device_handle& device, std::uint8_t request, std::uint8_t selector,
                           vs_probe_commit& record)
{
    return uvc_request(device, request, 0, streaming_interface, selector, vs_probe_commit::size, record.data());
}

bool windows8_or_later()
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 2;
    info.wServicePackMajor = 0;
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

} // namespace

std::error_code probe_commit(const nox_um::usb_device_handle& device, const vs_probe_commit& probe,
                             vs_probe_commit& commit)
{
    vs_probe_commit sent = probe;
    if (auto ec = vs_request(device, uvc_req::set_cur, vs_probe_control, sent)) {
        return ec;
    }
    vs_probe_commit answer;
    if (auto ec = vs_request(device, uvc_req::get_cur, vs_probe_control, answer)) {
        return ec;
    }
    if (answer.format_index() != probe.format_index() || answer.frame_index() != probe.frame_index()) {
        log_line(logging::level_error,
                 "[CamTovra] Probe answered bFormatIndex={}, bFrameIndex={} for bFormatIndex={}, bFrameIndex={}.\n",
                 answer.format_index(), answer.frame_index(), probe.format_index(), probe.frame_index());
        return make_cam_error(E_INVALIDARG);
    }
    vs_probe_commit to_commit = answer;
    if (auto ec = vs_request(device, uvc_req::set_cur, vs_commit_control, to_commit)) {
        return ec;
    }
    vs_probe_commit committed = answer;
    if (auto ec = vs_request(device, uvc_req::get_cur, vs_commit_control, committed)) {
        if (service_log_level.load(std::memory_order_relaxed) != 0) {
            log_line(logging::level_error, "[CamTovra] Failed GET_CUR request on VS control with err={}.\n",
                     ec.message());
        }
        return ec;
    }
    if (!committed_sizes_usable(committed, 0)) {
        log_line(logging::level_error,
                 "[CamTovra] Committed dwMaxVideoFrameSize={}, dwMaxPayloadTransferSize={} cannot be streamed.\n",
                 committed.max_video_frame_size(), committed.max_payload_transfer_size());
        return make_cam_error(E_INVALIDARG);
    }
    commit = committed;
    return {};
}

void default_fill_probe(const input_format& format, std::uint64_t interval, vs_probe_commit& probe)
{
    probe.set_hint(1);
    probe.set_format_index(static_cast<std::uint8_t>(format.format_index));
    probe.set_frame_index(static_cast<std::uint8_t>(format.frame_index));
    probe.set_frame_interval(static_cast<std::uint32_t>(interval));
}

outcome::std_result<negotiated_stream> negotiate_stream(const nox_um::usb_device_handle& device,
                                                        const std::vector<stream_format_entry>& entries,
                                                        const std::vector<input_format>& inputs,
                                                        const cam::stream_format& requested,
                                                        std::uint64_t interval, std::uint32_t max_bus_transfer,
                                                        const fill_probe_fn& fill_probe)
{
    const auto found = find_stream_format_entry(entries, requested.fourcc, requested.width, requested.height);
    if (!found || entries[*found].info.StreamFormatInfoId >= inputs.size()) {
        return make_cam_error(E_INVALIDARG);
    }
    const input_format& input = inputs[entries[*found].info.StreamFormatInfoId];
    negotiated_stream result;
    result.input.fourcc = input_format_fourcc(input.guid);
    result.input.width = requested.width;
    result.input.height = requested.height;
    result.input.buffer_length =
        input_image_size(result.input.fourcc, requested.width, requested.height, input.bits_per_pixel);

    vs_probe_commit probe;
    if (fill_probe) {
        if (const std::error_code ec = fill_probe(input, interval, probe, {requested.width, requested.height})) {
            return ec;
        }
    } else {
        default_fill_probe(input, interval, probe);
    }
    probe.set_max_payload_transfer_size(max_bus_transfer);
    if (auto ec = probe_commit(device, probe, result.commit)) {
        return ec;
    }
    result.compressed = input.compressed;
    const std::uint32_t image = input.compressed ? 0 : result.input.buffer_length;
    if (!committed_sizes_usable(result.commit, image)) {
        log_line(logging::level_error, "[CamTovra] An image of {} bytes ({}, {}x{}) cannot be streamed.\n", image,
                 img::fourcc_name(result.input.fourcc), result.input.width, result.input.height);
        return make_cam_error(E_INVALIDARG);
    }
    if (result.commit.max_video_frame_size() < image) {
        log_line(logging::level_warning,
                 "[CamTovra] Committed dwMaxVideoFrameSize={} is below the image's {} bytes; frames are sized for "
                 "the image.\n",
                 result.commit.max_video_frame_size(), image);
    }
    const std::uint32_t frame_size = result.commit.max_video_frame_size();
    if (frame_size > result.input.buffer_length) {
        if (service_log_level.load(std::memory_order_relaxed) > 2) {
            log_line(logging::level_trace,
                     "[CamTovra] allocating input frames with size (dwMaxVideoFrameSize)={}, actual image data "
                     "size={}.\n",
                     frame_size, result.input.buffer_length);
        }
        result.input.buffer_length = frame_size;
    }
    result.interval = interval;
    return result;
}

bus_environment read_bus_environment(const nox_um::usb_device_handle& device, utils::property_store_itf* store)
{
    bus_environment env;
    env.windows8_or_later = windows8_or_later();
    try {
        env.usb3 = device.is_usb3_connection();
    } catch (const std::system_error& e) {
        log_line(logging::level_error, "[CamTovra] Connection speed unknown, {}.\n", e.code());
        env.usb3 = false;
    }
    std::int64_t value = 0;
    if (store != nullptr && store->read_int(L"max_transfer_size", value)) {
        env.store_max_transfer_size = value;
    }
    return env;
}

} // namespace cam::uvc_cam
