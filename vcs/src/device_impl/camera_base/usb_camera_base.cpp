#include "device_impl/camera_base/usb_camera_base.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

#include <fmt/format.h>

#include "device_impl/camera_base/processing_level.h"
#include "device_impl/image/cpu_features.h"
#include "device_impl/image/image_format.h"
#include "device_impl/image/text_overlay.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/file_version.h"
#include "gen_utils/log.h"

namespace cam {

namespace {

constexpr std::uint32_t id_firmware_revision = 4;
constexpr std::uint32_t id_driver_pass_through = 6;
constexpr std::uint32_t id_do_it = 25;
constexpr std::uint32_t id_processing_level = 26;
constexpr std::uint32_t id_stored_integer = 26;

constexpr std::uint32_t pass_through_header = 10;

std::error_code not_implemented() { return make_cam_error(E_NOTIMPL); }

std::string make_driver_line(const nox_um::usb_device_handle* device)
{
    noxkm::driver_version version{};
    if (device == nullptr ||
        device->control(IOCTL_NOXKM_GET_DRIVER_VERSION, nullptr, 0, &version, sizeof version)) {
        version = {};
    }
    const utils::file_version own = utils::get_module_file_version();
    return fmt::format("drv: CamTovraService km={},{}, um={},{}", version.version & 0xFFFF,
                       (version.reserved1 & 1) != 0 ? "dbg" : "fre",
                       fmt::format("{}.{}.{}.{}", own.major, own.minor, own.build, own.revision), "fre");
}

// The text of a string descriptor into a 64-character field, cut to 63
// characters so that it stays terminated; untouched when unreadable.
void copy_string(const nox_um::usb_device_handle& device, std::uint8_t index, wchar_t (&field)[64])
{
    auto text = device.get_string_descriptor(index);
    if (!text) {
        return;
    }
    const std::wstring& s = text.value();
    const std::size_t n = std::min<std::size_t>(s.size(), 63);
    std::fill(std::begin(field), std::end(field), L'\0');
    std::copy_n(s.begin(), n, field);
}

// The whole text as a hexadecimal number of at most 16 digits.
std::optional<std::uint64_t> parse_hex(const std::wstring& text)
{
    if (text.empty() || text.size() > 16) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a' + 10);
        } else if (c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

std::string format_entry(const stream_format_info& f)
{
    return fmt::format("type={:6}, dim=({:4},{:4}) minDim=({:4},{:4}) maxDim=({:4},{:4}) step=({:4},{:4}) "
                       "interval=({:8},{:8}), avg={:8}",
                       img::fourcc_name(f.MediaTypeFourCC), f.MaxDim.cx, f.MaxDim.cy, f.MinDim.cx, f.MinDim.cy,
                       f.MaxDim.cx, f.MaxDim.cy, f.StepDim.cx, f.StepDim.cy, f.MinAvgTimePerFrame,
                       f.MaxAvgTimePerFrame, f.DefaultAvgTimePerFrame);
}

} // namespace

// Passes counters and frames on to the creator's sink, keeping the counters
// as the camera's.
class usb_camera_base::counting_sink final : public frame_server_itf {
public:
    counting_sink(frame_server_itf& sink, prop_emulation::frame_count_info& counters)
        : sink_(sink), counters_(counters)
    {
    }
    void update_frame_counts(const frame_counts& counts) override
    {
        counters_.store(counts);
        sink_.update_frame_counts(counts);
    }
    bool deliver_frame(frame_wrapper& frame, const frame_counts& counts) override
    {
        counters_.store(counts);
        return sink_.deliver_frame(frame, counts);
    }
    void stream_failed() override { sink_.stream_failed(); }

private:
    frame_server_itf& sink_;
    prop_emulation::frame_count_info& counters_;
};

usb_camera_base::usb_camera_base(camera_creation creation)
    : gen_property::gen_property_reqistry(creation.store), device_(std::move(creation.device)),
      sink_(creation.sink), proxy_(std::make_unique<drv_genicam::genicam_named_req_proxy>(*this)),
      counting_sink_(sink_ != nullptr ? std::make_unique<counting_sink>(*sink_, frame_count_info_) : nullptr)
{
    if (utils::property_store_itf* store = property_store()) {
        std::int64_t level = 0;
        if (store->read_int(L"service_log_level", level)) {
            service_log_level.store(static_cast<std::uint32_t>(level) & 0xFF);
        }
    }
    driver_line_ = make_driver_line(device_.get());
    processor_features_ = detect_cpu_features();
}

usb_camera_base::~usb_camera_base() = default;

std::string usb_camera_base::own_document_text()
{
    return gcxml::write_register_description(own_document_.doc, "Vendor", "Model", "ToolTip");
}

std::error_code usb_camera_base::init_device()
{
    const property_req_key own_keys[] = {
        {PROPSETID_UVC_DRIVER, id_do_it},
        {PROPSETID_UVC_DRIVER, id_processing_level},
        {PROPSETID_UVC_DRIVER, id_firmware_revision},
        {PROPSETID_UVC_DRIVER, id_driver_pass_through},
        {PROPSETID_GENERIC_DRIVER_INTERFACE, id_stored_integer},
    };
    (void)register_handler_keys(own_keys, this, level_base);
    (void)register_handler(prop_emulation::frame_count_info::key(), &frame_count_info_, level_override);

    try {
        gcxml::build_document(own_document_.doc);
    } catch (const std::bad_alloc&) {
        log_line(logging::level_error, "[CamTovra] Failed to create the camera's own GenICam document.\n");
    }
    debug_properties_.build(*this, own_document_);

    log_line(logging::level_warning, "[CamTovra] >> Initializing derived device.\n");
    if (const std::error_code ec = init_standard_properties()) {
        return ec;
    }
    log_line(logging::level_warning, "[CamTovra] << Initializing derived device. Done.\n");

    log_line(logging::level_warning, "[CamTovra] >> Initializing video formats.\n");
    auto formats = build_input_formats();
    if (!formats) {
        return formats.error();
    }
    if (formats.value().empty()) {
        return make_cam_error(E_NOTIMPL);
    }
    formats_ = std::move(formats).value();
    log_line(logging::level_warning, "[CamTovra] DataRanges as exported by the driver :\n");
    for (const auto& entry : formats_) {
        log_line(logging::level_warning, "[CamTovra]     id={:3}, input_idx={:2}, {}\n", entry.position,
                 entry.info.StreamFormatInfoId, format_entry(entry.info));
    }
    log_line(logging::level_warning, "[CamTovra] << Initializing video formats. Done \n");

    log_line(logging::level_warning, "[CamTovra] << Now loading property values from registry. >>\n");
    const std::string text = own_document_text();
    if (!text.empty()) {
        (void)proxy_->init_and_register(text.data(), text.size(), proxy_.get());
    }
    proxy_->register_handlers();

    notify_all_handlers();
    log_line(logging::level_warning, "[CamTovra] << Finished init successfully. >>\n");

    try {
        const auto& descriptor = device_->get_device_descriptor();
        device_line_ = fmt::format("dev: fw_rev={} pid={:X}", firmware_revision(),
                                   static_cast<unsigned>(descriptor[10] | descriptor[11] << 8));
    } catch (const std::system_error& e) {
        log_line(logging::level_error, "[CamTovra] Failed to read the device descriptor, {}.\n", e.code());
    }
    return {};
}

void usb_camera_base::unload()
{
    log_line(logging::level_warning, "[CamTovra] << Now storing property values in the registry. >>\n");
    std::lock_guard lock(request_lock_);
    save_values();
    log_line(logging::level_warning, "[CamTovra] << Finished unloading. >>\n");
}

void usb_camera_base::notify_all_handlers()
{
    load_values();
}

std::error_code usb_camera_base::get_request(const GUID& set, std::uint32_t id, void* instance,
                                             std::uint32_t instance_size, void* value, std::uint32_t value_size,
                                             std::uint32_t* returned, std::uint32_t query_flags)
{
    std::lock_guard lock(request_lock_);
    KsPropDataRequest request;
    request.request_type = KsPropDataRequest::get;
    request.property_set = set;
    request.property_id = id;
    request.instance = instance;
    request.instance_size = instance_size;
    request.value = value;
    request.value_size = value_size;
    request.query_flags = query_flags;
    const std::error_code ec = gen_property_reqistry::get_request(request, level_override);
    if (returned != nullptr) {
        *returned = request.bytes_returned;
    }
    return ec;
}

std::error_code usb_camera_base::set_request(const GUID& set, std::uint32_t id, void* instance,
                                             std::uint32_t instance_size, void* value, std::uint32_t value_size)
{
    std::lock_guard lock(request_lock_);
    KsPropDataRequest request;
    request.request_type = KsPropDataRequest::set;
    request.property_set = set;
    request.property_id = id;
    request.instance = instance;
    request.instance_size = instance_size;
    request.value = value;
    request.value_size = value_size;
    return gen_property_reqistry::set_request(request, level_override);
}

std::error_code usb_camera_base::try_start(const stream_format& format, std::uint64_t interval)
{
    log_line(logging::level_warning, "[CamTovra] Trying to start : fcc={}, dim=({};{}) AvgTimePerFrame={}\n",
             img::fourcc_name(format.fourcc), format.width, format.height, interval);
    if (const std::error_code ec = select_format(format, interval)) {
        return ec;
    }
    current_format_ = format;
    if (const std::error_code ec = pre_start()) {
        release_stream();
        return ec;
    }
    if (const std::error_code ec = prepare_stream()) {
        release_stream();
        return ec;
    }
    frame_count_info_.reset();
    return {};
}

std::vector<stream_format_info> usb_camera_base::list_formats() const
{
    std::vector<stream_format_info> out;
    out.reserve(formats_.size());
    for (const auto& entry : formats_) {
        out.push_back(entry.info);
    }
    return out;
}

outcome::std_result<std::vector<std::uint64_t>> usb_camera_base::get_frame_intervals(std::uint32_t format_id)
{
    const auto found = std::find_if(formats_.begin(), formats_.end(), [&](const stream_format_entry& e) {
        return e.info.StreamFormatInfoId == format_id;
    });
    if (found == formats_.end()) {
        return make_cam_error(E_INVALIDARG);
    }
    return frame_intervals(*found);
}

frame_server_itf* usb_camera_base::frame_sink() noexcept
{
    return counting_sink_.get();
}

std::uint32_t usb_camera_base::required_frame_buffer_size()
{
    return current_format_.buffer_length;
}

void usb_camera_base::output_frame(frame_wrapper& frame)
{
    if (!debug_flags().show_overlay.load(std::memory_order_relaxed) || frame.buffer == nullptr) {
        return;
    }
    const stream_format format = current_format_;
    const std::int32_t stride = img::image_stride(format.fourcc, format.width);
    if (stride == 0 || format.height <= 0 || frame.offset > frame.capacity) {
        return;
    }
    // The stream format may describe more lines than this buffer holds: the
    // text is drawn only into the whole lines that are there.
    const std::uint64_t room = frame.capacity - frame.offset;
    const std::uint64_t line_bytes = static_cast<std::uint64_t>(stride < 0 ? -stride : stride);
    const auto lines = static_cast<std::int32_t>(std::min<std::uint64_t>(format.height, room / line_bytes));
    if (lines <= 0) {
        return;
    }
    const img::image_desc image =
        img::image_desc_make(frame.data() + frame.offset, format.fourcc, format.width, lines, stride,
                             static_cast<std::uint32_t>(std::min<std::uint64_t>(room, 0xFFFFFFFFu)));
    const std::int32_t scale = format.width / 1024 + 1;
    if (!driver_line_.empty()) {
        overlay::draw_text(image, {10, 10}, scale, driver_line_.data(), driver_line_.size());
    }
    if (!device_line_.empty()) {
        overlay::draw_text(image, {10, 10 + 10 * scale}, scale, device_line_.data(), device_line_.size());
    }
}

std::error_code usb_camera_base::read_device_information(device_information& record)
{
    std::array<std::uint8_t, 18> descriptor{};
    try {
        descriptor = device_->get_device_descriptor();
    } catch (const std::system_error& e) {
        return e.code();
    }
    record.vendor_id = static_cast<std::uint32_t>(descriptor[8] | descriptor[9] << 8);
    copy_string(*device_, descriptor[14], record.manufacturer);
    copy_string(*device_, descriptor[15], record.product);
    record.serial_number = unreadable_serial_number;
    if (auto serial = device_->get_string_descriptor(descriptor[16])) {
        record.serial_number = parse_hex(serial.value()).value_or(unreadable_serial_number);
    }
    record.interface_kind = 4;
    record.product_id = static_cast<std::uint32_t>(descriptor[10] | descriptor[11] << 8);
    record.reserved = 0;
    record.firmware_revision = firmware_revision();
    return {};
}

std::error_code usb_camera_base::get_request(KsPropDataRequest& request)
{
    if (same_guid(request.property_set, PROPSETID_UVC_DRIVER)) {
        switch (request.property_id) {
        case id_firmware_revision:
            return write_int_reply(request, static_cast<std::int32_t>(firmware_revision()));
        case id_driver_pass_through:
            return driver_pass_through(request, false);
        case id_processing_level:
            return write_int_reply(request, processing_level(processor_features_.load()));
        default:
            return not_implemented();
        }
    }
    if (same_guid(request.property_set, PROPSETID_GENERIC_DRIVER_INTERFACE) &&
        request.property_id == id_stored_integer) {
        return read_stored_integer(request);
    }
    return not_implemented();
}

std::error_code usb_camera_base::set_request(KsPropDataRequest& request)
{
    if (!same_guid(request.property_set, PROPSETID_UVC_DRIVER)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case id_driver_pass_through:
        return driver_pass_through(request, true);
    case id_do_it:
        if (service_log_level.load(std::memory_order_relaxed) >= logging::level_trace) {
            log_line(logging::level_trace, "[CamTovra] Do it.\n");
        }
        return {};
    case id_processing_level: {
        if (const std::error_code ec = check_value_buffer(request, 4)) {
            return ec;
        }
        std::int32_t level = 0;
        std::memcpy(&level, request.value, sizeof level);
        const auto mask = processing_mask(level, detect_cpu_features());
        if (!mask) {
            return make_cam_error(E_INVALIDARG);
        }
        processor_features_ = *mask;
        return {};
    }
    default:
        return not_implemented();
    }
}

std::error_code usb_camera_base::driver_pass_through(KsPropDataRequest& request, bool set)
{
    const auto* header = static_cast<const std::uint8_t*>(request.instance);
    if (header == nullptr || request.instance_size < pass_through_header) {
        return make_cam_error(static_cast<HRESULT>(0x8007007A));
    }
    const auto length = static_cast<std::uint16_t>(header[8] | header[9] << 8);
    noxkm::control_setup setup{};
    setup.vendor = header[0] != 0 ? 1 : 0;
    setup.recipient = header[1];
    setup.request = header[3];
    setup.value = static_cast<std::uint16_t>(header[4] | header[5] << 8);
    setup.index = static_cast<std::uint16_t>(header[6] | header[7] << 8);
    const DWORD code = header[2] != 0 ? IOCTL_NOXKM_CONTROL_OUT : IOCTL_NOXKM_CONTROL_IN;
    if (set) {
        if (request.instance_size < pass_through_header + length) {
            return make_cam_error(static_cast<HRESULT>(0x8007007A));
        }
        void* data = length == 0 ? nullptr : const_cast<std::uint8_t*>(header + pass_through_header);
        return device_->control(code, &setup, sizeof setup, data, length);
    }
    if (request.value_size < length) {
        request.bytes_returned = length;
        return make_cam_error(static_cast<HRESULT>(0x8007007A));
    }
    if (request.value == nullptr && length != 0) {
        return make_cam_error(E_POINTER);
    }
    if (const std::error_code ec = device_->control(code, &setup, sizeof setup, request.value, length)) {
        return ec;
    }
    request.bytes_returned = length;
    return {};
}

std::error_code usb_camera_base::read_stored_integer(KsPropDataRequest& request)
{
    const auto* key = static_cast<const char*>(request.instance);
    const std::size_t limit = key == nullptr ? 0 : request.instance_size;
    const auto* end = key == nullptr ? nullptr : static_cast<const char*>(std::memchr(key, 0, limit));
    if (end == nullptr) {
        return make_cam_error(E_INVALIDARG);
    }
    if (const std::error_code ec = check_value_buffer(request, 8)) {
        return ec;
    }
    const std::string utf8(key, end);
    std::wstring name(utf8.size() + 1, L'\0');
    const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), name.data(),
                                          static_cast<int>(name.size()));
    name.resize(chars > 0 ? static_cast<std::size_t>(chars) : 0);
    std::int64_t value = 0;
    utils::property_store_itf* store = property_store();
    if (store == nullptr || name.empty() || !store->read_int(name, value)) {
        return make_cam_error(E_INVALIDARG);
    }
    std::memcpy(request.value, &value, sizeof value);
    request.bytes_returned = 8;
    return {};
}

} // namespace cam
