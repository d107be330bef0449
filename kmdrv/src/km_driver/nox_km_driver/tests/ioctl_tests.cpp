// The I/O-control contract with user mode: records, lengths and statuses of
// every code, pipe files and what a removed device answers.

#include "driver_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using noxkm_test::driver_bench;

// Stands in front of the camera's internal device control and keeps the pipe
// handle of every pipe reset, abort and transfer the driver sends down.
class pipe_handle_spy {
public:
    explicit pipe_handle_spy(sim_camera::camera& camera)
        : dispatch_(camera.pdo()->DriverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL])
    {
        active_ = this;
        original_ = std::exchange(dispatch_, &pipe_handle_spy::dispatch);
    }
    ~pipe_handle_spy() { dispatch_ = original_; }

    // How many were sent since the last call, and how many of them on `handle`.
    std::pair<std::size_t, std::size_t> take(USBD_PIPE_HANDLE handle)
    {
        const auto sent = take_all();
        return {sent.size(), static_cast<std::size_t>(std::count(sent.begin(), sent.end(), handle))};
    }
    // The handles sent since the last call, in order.
    std::vector<USBD_PIPE_HANDLE> take_all()
    {
        std::lock_guard lock(lock_);
        return std::exchange(handles_, {});
    }

private:
    static NTSTATUS dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        const auto* urb = static_cast<const URB*>(stack->Parameters.Others.Argument1);
        if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_INTERNAL_USB_SUBMIT_URB) {
            std::lock_guard lock(active_->lock_);
            const USHORT function = urb->UrbHeader.Function;
            if (function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
                active_->handles_.push_back(urb->UrbBulkOrInterruptTransfer.PipeHandle);
            } else if (function == URB_FUNCTION_ABORT_PIPE ||
                       function == URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL) {
                active_->handles_.push_back(urb->UrbPipeRequest.PipeHandle);
            }
        }
        return active_->original_(device, irp);
    }

    static inline pipe_handle_spy* active_ = nullptr;
    PDRIVER_DISPATCH& dispatch_;
    PDRIVER_DISPATCH original_ = nullptr;
    std::mutex lock_;
    std::vector<USBD_PIPE_HANDLE> handles_;
};

class ioctl_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(bench.start(), STATUS_SUCCESS); device_file = bench.open(L""); }
    void TearDown() override
    {
        bench.host.close(device_file);
        EXPECT_TRUE(bench.violations_left().empty());
    }

    kmdf::io_result descriptor(std::uint32_t kind, std::uint32_t index, void* out, ULONG out_length)
    {
        const noxkm::descriptor_request request{kind, index, 9};
        return bench.ioctl(device_file, IOCTL_NOXKM_GET_DESCRIPTOR, &request, sizeof request, out, out_length);
    }
    kmdf::io_result select(std::uint32_t interface_number, std::uint32_t alternate, noxkm::interface_info* info,
                           std::uint32_t reserved = 0)
    {
        const noxkm::select_interface_request request{reserved, interface_number, alternate};
        return bench.ioctl(device_file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, info, sizeof *info);
    }

    driver_bench bench;
    WDFFILEOBJECT device_file = nullptr;
};

TEST_F(ioctl_test, device_and_configuration_descriptors_answer_with_their_sizes)
{
    std::uint8_t out[4096] = {};
    kmdf::io_result r = descriptor(noxkm::descriptor_device, 0, out, sizeof out);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 18u);
    EXPECT_EQ(0, memcmp(out, bench.camera.device_descriptor_bytes.data(), 18));
    r = descriptor(noxkm::descriptor_device, 0, out, 17);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 18u);

    const ULONG total = static_cast<ULONG>(bench.camera.configuration_bytes.size());
    r = descriptor(noxkm::descriptor_configuration, 0, out, 8);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, total); // the caller can size its buffer and ask again
    r = descriptor(noxkm::descriptor_configuration, 0, out, total);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, total);
    EXPECT_EQ(0, memcmp(out, bench.camera.configuration_bytes.data(), total));
}

TEST_F(ioctl_test, string_descriptors_are_text_cut_to_the_buffer)
{
    wchar_t text[64] = {};
    kmdf::io_result r = descriptor(noxkm::descriptor_string, 2, text, sizeof text);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(text, r.information / 2), L"CamTovra Sim");
    r = descriptor(noxkm::descriptor_string, 2, text, 7); // three whole characters
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 6u);
    bench.camera.strings[4] = sim_camera::string_descriptor(u"X");
    r = descriptor(noxkm::descriptor_string, 4, text, sizeof text);
    EXPECT_EQ(std::wstring(text, r.information / 2), L"DEADBEEF");
    EXPECT_EQ(descriptor(noxkm::descriptor_string, 256, text, sizeof text).status, STATUS_INVALID_PARAMETER);
    EXPECT_FALSE(NT_SUCCESS(descriptor(noxkm::descriptor_string, 9, text, sizeof text).status)); // no such string
}

TEST_F(ioctl_test, connection_speed_is_300_for_usb3_and_200_otherwise)
{
    std::uint64_t speed = 0;
    kmdf::io_result r = descriptor(noxkm::descriptor_connection_speed, 0, &speed, sizeof speed);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 8u);
    EXPECT_EQ(speed, 300u);
    EXPECT_EQ(descriptor(noxkm::descriptor_connection_speed, 0, &speed, 4).status, STATUS_BUFFER_TOO_SMALL);

    driver_bench usb2;
    usb2.camera.super_speed = false;
    usb2.camera.supported_usb_version = 0x200;
    ASSERT_EQ(usb2.start(), STATUS_SUCCESS);
    WDFFILEOBJECT file = usb2.open(L"");
    const noxkm::descriptor_request request{noxkm::descriptor_connection_speed, 0, 0};
    EXPECT_EQ(usb2.ioctl(file, IOCTL_NOXKM_GET_DESCRIPTOR, &request, sizeof request, &speed, sizeof speed).status,
              STATUS_SUCCESS);
    EXPECT_EQ(speed, 200u);
    usb2.host.close(file);
}

TEST_F(ioctl_test, descriptor_requests_with_bad_records_are_refused)
{
    std::uint8_t out[64];
    EXPECT_EQ(descriptor(7, 0, out, sizeof out).status, STATUS_INVALID_PARAMETER);
    const noxkm::descriptor_request request{noxkm::descriptor_device, 0, 0};
    kmdf::io_result r = bench.ioctl(device_file, IOCTL_NOXKM_GET_DESCRIPTOR, &request, 8, out, sizeof out);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 12u);
    r = bench.ioctl(device_file, IOCTL_NOXKM_GET_DESCRIPTOR, &request, sizeof request, nullptr, 0);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 0u);
    std::vector<std::uint8_t> oversized(1 << 16);
    r = bench.ioctl(device_file, IOCTL_NOXKM_GET_DESCRIPTOR, oversized.data(), static_cast<ULONG>(oversized.size()),
                    out, sizeof out);
    EXPECT_EQ(r.status, STATUS_SUCCESS); // kind 0 of a zero-filled record
    EXPECT_EQ(r.information, 18u);
}

TEST_F(ioctl_test, control_transfers_with_bad_buffers_report_the_framework_status)
{
    const noxkm::control_setup setup{1, 0, 0x30, 0, 0};
    std::uint8_t data[8] = {};
    kmdf::io_result r = bench.ioctl(device_file, IOCTL_NOXKM_CONTROL_IN, &setup, 9, data, sizeof data);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 10u);
    r = bench.ioctl(device_file, IOCTL_NOXKM_CONTROL_OUT, &setup, 9, data, sizeof data);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 0u);
    r = bench.ioctl(device_file, IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, nullptr, 0);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL); // an IN transfer needs its data stage
    EXPECT_EQ(r.information, 0u);
    EXPECT_TRUE(bench.camera.control_log().empty()); // none of them reached the device
    // A data stage longer than a control transfer can carry is cut to 65535 bytes.
    bench.camera.add_control_handler([](const sim_camera::control_setup& s, std::span<std::uint8_t> d)
                                         -> std::optional<sim_camera::control_reply> {
        return sim_camera::control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(d.size()), false};
    });
    std::vector<std::uint8_t> big(70000);
    r = bench.ioctl(device_file, IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, big.data(),
                    static_cast<ULONG>(big.size()));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 65535u);
    ASSERT_EQ(bench.camera.control_log().size(), 1u);
    EXPECT_EQ(bench.camera.control_log()[0].setup.length, 65535);
}

TEST_F(ioctl_test, driver_version_record_carries_4_7_0_1524)
{
    noxkm::driver_version version{};
    kmdf::io_result r = bench.ioctl(device_file, IOCTL_NOXKM_GET_DRIVER_VERSION, nullptr, 0, &version, sizeof version);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 16u);
    EXPECT_EQ(version.version, 0x0004000700000000ull | 1524);
    EXPECT_EQ(version.reserved0, 0u);
    r = bench.ioctl(device_file, IOCTL_NOXKM_GET_DRIVER_VERSION, nullptr, 0, &version, 8);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 16u);
}

TEST_F(ioctl_test, interface_selection_answers_the_pipe_records)
{
    noxkm::interface_info info{};
    kmdf::io_result r = select(1, 0, &info);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 148u);
    ASSERT_EQ(info.pipe_count, 1u);
    EXPECT_EQ(info.pipes[0].endpoint_address, 0x81);
    EXPECT_EQ(info.pipes[0].max_packet_size, 1024);
    EXPECT_EQ(info.pipes[0].pipe_type, 2);
    EXPECT_EQ(info.pipes[0].maximum_transfer_size, 4u * 1024 * 1024);
    EXPECT_TRUE(bench.logged("[nox_km]>> IOCTL_NOXKM_SELECT_INTERFACE , itf=1, alt=0."));
    EXPECT_TRUE(bench.logged("[nox_km]<< IOCTL_NOXKM_SELECT_INTERFACE success with, interface_info->NumberOfPipes=1."));

    const int selections = bench.camera.stats.select_interfaces.load();
    EXPECT_EQ(select(1, 0, &info, 1).status, STATUS_INVALID_PARAMETER); // reserved must be 0
    EXPECT_EQ(bench.camera.stats.select_interfaces.load(), selections);
    EXPECT_EQ(select(1, 9, &info).status, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(bench.logged("[nox_km]IOCTL_NOXKM_SELECT_INTERFACE failed with status=0xc000000d."));

    const noxkm::select_interface_request request{0, 1, 0};
    r = bench.ioctl(device_file, IOCTL_NOXKM_SELECT_INTERFACE, &request, 11, &info, sizeof info);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 12u);
    r = bench.ioctl(device_file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, &info, 147);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 148u);
}

TEST(ioctl, alternate_settings_without_pipes_or_with_more_than_16_are_reported_consistently)
{
    driver_bench bench;
    auto spec = sim_camera::uvc_camera_spec();
    sim_camera::alternate_spec empty = spec.interfaces[1].alternates[0];
    empty.alternate = 1;
    empty.endpoints.clear();
    sim_camera::alternate_spec many = empty;
    many.alternate = 2;
    for (int i = 0; i < 20; ++i) {
        sim_camera::endpoint_spec ep;
        ep.address = static_cast<std::uint8_t>(0x81 + i);
        many.endpoints.push_back(ep);
    }
    spec.interfaces[1].alternates.push_back(empty);
    spec.interfaces[1].alternates.push_back(many);
    bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    WDFFILEOBJECT file = bench.open(L"");
    noxkm::interface_info info;
    memset(&info, 0xEE, sizeof info);
    noxkm::select_interface_request request{0, 1, 1};
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, &info, sizeof info).status,
              STATUS_SUCCESS);
    EXPECT_EQ(info.pipe_count, 0u);
    request.alternate_setting = 2;
    EXPECT_EQ(bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, &info, sizeof info).status,
              STATUS_SUCCESS);
    EXPECT_EQ(info.pipe_count, 16u);
    EXPECT_EQ(info.pipes[15].endpoint_address, 0x90);
    bench.host.close(file);
}

TEST_F(ioctl_test, unknown_codes_and_pipe_codes_without_a_pipe_are_not_implemented)
{
    std::uint8_t buffer[16] = {};
    EXPECT_EQ(bench.ioctl(device_file, 0x80014999, buffer, 4, buffer, 4).status, STATUS_NOT_IMPLEMENTED);
    for (const ULONG code : {IOCTL_NOXKM_PIPE_START, IOCTL_NOXKM_PIPE_STOP, IOCTL_NOXKM_PIPE_SET_DEPTH}) {
        EXPECT_EQ(bench.ioctl(device_file, code, buffer, 8, nullptr, 0).status, STATUS_NOT_IMPLEMENTED) << code;
    }
    WDFFILEOBJECT pipe = bench.open(L"\\pipe_81");
    EXPECT_EQ(bench.ioctl(pipe, 0x8001C999, nullptr, 0, nullptr, 0).status, STATUS_NOT_IMPLEMENTED);
    // Device codes work on a pipe handle too.
    noxkm::driver_version version{};
    EXPECT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_GET_DRIVER_VERSION, nullptr, 0, &version, sizeof version).status,
              STATUS_SUCCESS);
    const noxkm::pipe_depth depth{65536, 4};
    kmdf::io_result r = bench.ioctl(pipe, IOCTL_NOXKM_PIPE_SET_DEPTH, &depth, sizeof depth, nullptr, 0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 8u);
    r = bench.ioctl(pipe, IOCTL_NOXKM_PIPE_SET_DEPTH, &depth, 4, nullptr, 0);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 8u);
    bench.host.close(pipe);
}

TEST_F(ioctl_test, pipe_file_opens_once_and_only_for_a_selected_endpoint)
{
    NTSTATUS status;
    WDFFILEOBJECT first = bench.open(L"\\pipe_81", &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
    bench.open(L"\\pipe_81", &status);
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    EXPECT_TRUE(bench.logged("[nox_km]Failed to open pipe=0x81 due to being already open."));
    bench.host.close(first);
    WDFFILEOBJECT again = bench.open(L"\\pipe_181", &status); // the number's low byte
    EXPECT_EQ(status, STATUS_SUCCESS);
    bench.host.close(again);

    for (const wchar_t* name : {L"\\pipe_85", L"\\pipe_", L"\\pipe_zz", L"\\other", L"pipe_81"}) {
        bench.open(name, &status);
        EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE) << static_cast<const void*>(name);
    }
}

TEST(ioctl, endpoint_of_another_alternate_setting_opens_after_its_selection)
{
    driver_bench bench;
    auto spec = sim_camera::uvc_camera_spec();
    sim_camera::alternate_spec one = spec.interfaces[1].alternates[0];
    one.alternate = 1;
    one.endpoints[0].address = 0x85;
    spec.interfaces[1].alternates.push_back(one);
    bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    NTSTATUS status;
    bench.open(L"\\pipe_85", &status);
    EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE);
    WDFFILEOBJECT file = bench.open(L"");
    noxkm::interface_info info{};
    const noxkm::select_interface_request request{0, 1, 1};
    ASSERT_EQ(bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, &info, sizeof info).status,
              STATUS_SUCCESS);
    WDFFILEOBJECT pipe = bench.open(L"\\pipe_85", &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
    bench.host.close(pipe);
    bench.host.close(file);
}

TEST_F(ioctl_test, selecting_the_interface_of_a_running_pipe_is_refused_until_it_stops)
{
    WDFFILEOBJECT pipe = bench.open(L"\\pipe_81");
    ASSERT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_PIPE_START, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    noxkm::interface_info info{};
    EXPECT_EQ(select(1, 0, &info).status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(select(0, 0, &info).status, STATUS_SUCCESS); // another interface is free
    ASSERT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_PIPE_STOP, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(select(1, 0, &info).status, STATUS_SUCCESS);
    bench.host.close(pipe);
}

// A camera whose streaming interface has endpoint 0x81 in alternate settings 0
// and 1 and none in 2, with its device file and the pipe file of 0x81 open.
// With `second_endpoint` setting 1 has bulk IN 0x82 too.
struct three_alternates {
    explicit three_alternates(bool second_endpoint = false)
    {
        auto spec = sim_camera::uvc_camera_spec();
        sim_camera::alternate_spec one = spec.interfaces[1].alternates[0];
        one.alternate = 1;
        if (second_endpoint) {
            one.endpoints.push_back(one.endpoints.front());
            one.endpoints.back().address = 0x82;
        }
        spec.interfaces[1].alternates.push_back(one);
        one.alternate = 2;
        one.endpoints.clear();
        spec.interfaces[1].alternates.push_back(one);
        bench.camera.configuration_bytes = sim_camera::build_configuration(spec);
        EXPECT_EQ(bench.start(), STATUS_SUCCESS);
        file = bench.open(L"");
        pipe = bench.open(L"\\pipe_81");
    }
    NTSTATUS select(std::uint32_t alternate)
    {
        noxkm::interface_info info{};
        const noxkm::select_interface_request request{0, 1, alternate};
        return bench.ioctl(file, IOCTL_NOXKM_SELECT_INTERFACE, &request, sizeof request, &info, sizeof info).status;
    }
    NTSTATUS control(ULONG code) { return control(pipe, code); }
    NTSTATUS read() { return read(pipe); }
    NTSTATUS control(WDFFILEOBJECT on, ULONG code) { return bench.ioctl(on, code, nullptr, 0, nullptr, 0).status; }
    NTSTATUS read(WDFFILEOBJECT on) { return bench.host.read(on, buffer, sizeof buffer).status; }

    driver_bench bench;
    WDFFILEOBJECT file = nullptr;
    WDFFILEOBJECT pipe = nullptr;
    std::uint8_t buffer[512] = {};
};

TEST(ioctl, stopped_pipe_streams_on_the_handle_of_the_alternate_setting_selected_under_it)
{
    // The pipe file stays open across the selections, as when the service
    // goes back to the zero-bandwidth setting before it drops the pipe.
    three_alternates cam;
    pipe_handle_spy spy(cam.bench.camera);
    const USBD_PIPE_HANDLE opened_on = cam.bench.camera.pipe_handle(0x81);
    ASSERT_EQ(cam.select(1), STATUS_SUCCESS);
    ASSERT_NE(cam.bench.camera.pipe_handle(0x81), opened_on); // the stack freed the old one
    EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    EXPECT_EQ(cam.read(), STATUS_SUCCESS);
    EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS);
    using sent = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(spy.take(cam.bench.camera.pipe_handle(0x81)), sent(3, 3)); // reset, transfer, abort

    // Without the endpoint in the setting the pipe sends nothing until it is back.
    ASSERT_EQ(cam.select(2), STATUS_SUCCESS);
    EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_START), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(cam.read(), STATUS_END_OF_FILE);
    EXPECT_EQ(spy.take(nullptr), sent(0, 0));
    ASSERT_EQ(cam.select(0), STATUS_SUCCESS);
    EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    EXPECT_EQ(cam.read(), STATUS_SUCCESS);
    cam.bench.host.close(cam.pipe); // stops it
    EXPECT_EQ(spy.take(cam.bench.camera.pipe_handle(0x81)), sent(3, 3));
    cam.bench.host.close(cam.file);
    EXPECT_TRUE(cam.bench.violations_left().empty());
}

TEST(ioctl, refused_selection_leaves_the_open_pipes_streaming_on_the_setting_still_selected)
{
    // Setting 1 is selected with pipes 0x81 and 0x82 open; the selection
    // gives up the stopped pipes' handles before it is refused, and must
    // leave every open pipe on setting 1's live handles.
    enum class refusal { running_pipe, unknown_setting, usb_stack };
    struct row {
        const char* name;
        refusal by;
        std::uint32_t alternate;
        NTSTATUS expected;
    } rows[] = {
        {"0x82 runs", refusal::running_pipe, 2, STATUS_INVALID_DEVICE_STATE},
        {"no setting 7", refusal::unknown_setting, 7, STATUS_INVALID_PARAMETER},
        {"no bandwidth", refusal::usb_stack, 2, STATUS_UNSUCCESSFUL},
    };
    for (const row& r : rows) {
        three_alternates cam(true);
        ASSERT_EQ(cam.select(1), STATUS_SUCCESS) << r.name;
        // Opened after 0x81: the selection meets 0x81 first and gives its handle up.
        WDFFILEOBJECT second = cam.bench.open(L"\\pipe_82");
        const USBD_PIPE_HANDLE live[] = {cam.bench.camera.pipe_handle(0x81), cam.bench.camera.pipe_handle(0x82)};
        pipe_handle_spy spy(cam.bench.camera);
        if (r.by == refusal::running_pipe) {
            ASSERT_EQ(cam.control(second, IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS) << r.name;
        }
        cam.bench.camera.select_interface_refusals = r.by == refusal::usb_stack ? 1 : 0;
        EXPECT_EQ(cam.select(r.alternate), r.expected) << r.name;
        EXPECT_EQ(cam.bench.camera.selected_alternate(1), 1) << r.name;
        ASSERT_EQ(cam.bench.camera.pipe_handle(0x81), live[0]) << r.name << ": the stack kept the setting";

        EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS) << r.name;
        EXPECT_EQ(cam.read(), STATUS_SUCCESS) << r.name;
        EXPECT_EQ(cam.control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS) << r.name;
        if (r.by != refusal::running_pipe) {
            EXPECT_EQ(cam.control(second, IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS) << r.name;
        }
        EXPECT_EQ(cam.read(second), STATUS_SUCCESS) << r.name;
        EXPECT_EQ(cam.control(second, IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS) << r.name;
        // Each pipe: a reset, a transfer and an abort, on its live handle.
        const std::vector<USBD_PIPE_HANDLE> sent = spy.take_all();
        EXPECT_EQ(sent.size(), 6u) << r.name;
        EXPECT_EQ(std::count(sent.begin(), sent.end(), live[0]), 3) << r.name;
        EXPECT_EQ(std::count(sent.begin(), sent.end(), live[1]), 3) << r.name;
        cam.bench.host.close(second);
        cam.bench.host.close(cam.pipe);
        cam.bench.host.close(cam.file);
        EXPECT_TRUE(cam.bench.violations_left().empty()) << r.name;
    }
}

TEST(ioctl, selection_short_of_memory_leaves_no_pipe_on_a_freed_handle)
{
    // Each allocation of the selection in turn fails; whatever it answers, the
    // open pipe then streams on the camera's live handle or does not start.
    for (long budget = 0; budget < 8; ++budget) {
        three_alternates cam;
        pipe_handle_spy spy(cam.bench.camera);
        kmdf::fail_allocations_after(budget);
        cam.select(1);
        kmdf::fail_allocations_after(-1);
        if (NT_SUCCESS(cam.control(IOCTL_NOXKM_PIPE_START))) {
            EXPECT_EQ(cam.read(), STATUS_SUCCESS) << "budget " << budget;
        }
        cam.bench.host.close(cam.pipe);
        const auto [total, live] = spy.take(cam.bench.camera.pipe_handle(0x81));
        EXPECT_EQ(live, total) << "budget " << budget;
        cam.bench.host.close(cam.file);
        EXPECT_TRUE(cam.bench.violations_left().empty()) << "budget " << budget;
    }
}

TEST_F(ioctl_test, removed_device_answers_device_removed_and_opens_no_pipe)
{
    WDFFILEOBJECT pipe = bench.open(L"\\pipe_81");
    bench.camera.remove();
    bench.host.surprise_remove(bench.device);
    std::uint8_t out[64];
    EXPECT_EQ(descriptor(noxkm::descriptor_device, 0, out, sizeof out).status, STATUS_DEVICE_REMOVED);
    EXPECT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_PIPE_START, nullptr, 0, nullptr, 0).status, STATUS_DEVICE_REMOVED);
    EXPECT_EQ(bench.host.read(pipe, out, sizeof out).status, STATUS_DEVICE_REMOVED);
    NTSTATUS status;
    bench.open(L"\\pipe_83", &status);
    EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE);
    bench.host.close(pipe);
}

} // namespace
