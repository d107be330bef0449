#include "usb_device_handle.h"

#include <gen_utils/win32_utils.h>

#include <algorithm>
#include <cstring>

namespace nox_um {
namespace {

constexpr std::uint32_t descriptor_buffer_size = 65535;
constexpr std::uint32_t string_buffer_size = 254;
constexpr std::uint32_t string_language = 9;
constexpr std::uint32_t streaming_interface = 1;

std::error_code win32_error(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

} // namespace

outcome::std_result<io_handle> usb_device_handle::open(const std::wstring& path, driver_io& io)
{
    const HANDLE file = io.create_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        return win32_error(GetLastError());
    }
    return io_handle(io, file);
}

std::error_code usb_device_handle::control(driver_io& io, HANDLE file, DWORD code, const void* input,
                                           DWORD input_size, void* output, DWORD output_size, DWORD* returned)
{
    // The file is opened for overlapped I/O: every call gets its own record
    // and event. The event's low bit keeps the completion away from a
    // completion port that the file may be bound to.
    win32::unique_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return win32_error(GetLastError());
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event.get()) | 1);
    DWORD bytes = 0;
    if (!io.device_io_control(file, code, const_cast<void*>(input), input_size, output, output_size, &bytes,
                              &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return win32_error(error);
        }
        if (!io.get_overlapped_result(file, &overlapped, &bytes, TRUE)) {
            return win32_error(GetLastError());
        }
    }
    if (returned != nullptr) {
        *returned = bytes;
    }
    return {};
}

usb_device_handle::usb_device_handle(io_handle file, std::wstring path) : file_(std::move(file)), path_(std::move(path))
{
}

outcome::std_result<std::vector<std::uint8_t>> usb_device_handle::get_descriptor(std::uint32_t kind,
                                                                                 std::uint32_t index,
                                                                                 std::uint32_t language_id,
                                                                                 std::uint32_t output_size) const
{
    const noxkm::descriptor_request request{kind, index, language_id};
    std::vector<std::uint8_t> out(output_size, 0);
    DWORD returned = 0;
    const std::error_code ec = control(*file_.io(), file_.get(), IOCTL_NOXKM_GET_DESCRIPTOR, &request,
                                       sizeof request, out.data(), output_size, &returned);
    if (ec) {
        return ec;
    }
    if (returned == 0) {
        return win32_error(ERROR_INVALID_ADDRESS);
    }
    out.resize(std::min<std::size_t>(returned, output_size)); // never more than was asked for
    return out;
}

const std::array<std::uint8_t, 18>& usb_device_handle::get_device_descriptor()
{
    auto bytes = get_descriptor(noxkm::descriptor_device, 0, 0, descriptor_buffer_size);
    if (!bytes && bytes.error() != win32_error(ERROR_INVALID_ADDRESS)) {
        throw std::system_error(bytes.error(), "Failed to fetch USB device descriptor");
    }
    device_descriptor_.fill(0);
    if (bytes && bytes.value().size() >= device_descriptor_.size()) {
        std::copy_n(bytes.value().begin(), device_descriptor_.size(), device_descriptor_.begin());
    }
    return device_descriptor_;
}

const std::uint8_t* usb_device_handle::get_configuration_descriptor()
{
    auto bytes = get_descriptor(noxkm::descriptor_configuration, 0, 0, descriptor_buffer_size);
    if (!bytes && bytes.error() != win32_error(ERROR_INVALID_ADDRESS)) {
        throw std::system_error(bytes.error(), "Failed to fetch USB configuration descriptor");
    }
    configuration_ = bytes ? std::move(bytes).value() : std::vector<std::uint8_t>{};
    return configuration_.size() > 8 ? configuration_.data() : nullptr;
}

outcome::std_result<std::wstring> usb_device_handle::get_string_descriptor(std::uint32_t index) const
{
    auto bytes = get_descriptor(noxkm::descriptor_string, index & 0xFF, string_language, string_buffer_size);
    if (!bytes) {
        return bytes.error();
    }
    const auto& raw = bytes.value();
    std::wstring text;
    for (std::size_t at = 0; at + 1 < raw.size(); at += 2) {
        const wchar_t c = static_cast<wchar_t>(raw[at] | (raw[at + 1] << 8));
        if (c == L'\0') {
            break;
        }
        text.push_back(c);
    }
    return text;
}

bool usb_device_handle::is_usb3_connection() const
{
    auto bytes = get_descriptor(noxkm::descriptor_connection_speed, 0, 0, sizeof(std::uint64_t));
    if (!bytes) {
        if (bytes.error() == win32_error(ERROR_INVALID_ADDRESS)) {
            return false;
        }
        throw std::system_error(bytes.error(), "Failed to fetch USB connection speed");
    }
    if (bytes.value().size() < sizeof(std::uint64_t)) {
        return false;
    }
    std::uint64_t speed = 0;
    memcpy(&speed, bytes.value().data(), sizeof speed);
    return speed > 299;
}

outcome::std_result<std::vector<noxkm::pipe_record>> usb_device_handle::select_alternate_setting(
    std::uint32_t alternate) const
{
    const noxkm::select_interface_request request{0, streaming_interface, alternate};
    noxkm::interface_info info{};
    const std::error_code ec = control(*file_.io(), file_.get(), IOCTL_NOXKM_SELECT_INTERFACE, &request,
                                       sizeof request, &info, sizeof info);
    if (ec) {
        return ec;
    }
    if (info.pipe_count == 0) {
        return win32_error(ERROR_INVALID_PARAMETER);
    }
    // A count beyond the record's room is not believed past the room.
    const std::size_t count = std::min<std::size_t>(info.pipe_count, noxkm::max_pipe_records);
    return std::vector<noxkm::pipe_record>(info.pipes, info.pipes + count);
}

void usb_device_handle::close()
{
    configuration_.clear();
    configuration_.shrink_to_fit();
    path_.clear();
    file_.reset();
}

} // namespace nox_um
